#pragma once
// A three-component vector for the geometry code of the hierarchy. Float for
// stored data, double where accumulation or products would lose precision.

#include <cmath>
#include <numbers>

template <typename T> struct Vec3 {
    T x = 0, y = 0, z = 0;

    constexpr Vec3() = default;
    constexpr Vec3(T ax, T ay, T az) : x(ax), y(ay), z(az) {}
    template <typename U> constexpr explicit Vec3(const Vec3<U>& o) : x(T(o.x)), y(T(o.y)), z(T(o.z)) {}

    constexpr Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vec3 operator-() const { return {-x, -y, -z}; }
    constexpr Vec3 operator*(T s) const { return {x * s, y * s, z * s}; }
    constexpr Vec3 operator/(T s) const { return {x / s, y / s, z / s}; }
    Vec3& operator+=(const Vec3& o) { x += o.x; y += o.y; z += o.z; return *this; }
    constexpr bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
    // Lexicographic by x, then y, then z: the order of normal sets.
    constexpr bool operator<(const Vec3& o) const {
        if (x != o.x) return x < o.x;
        if (y != o.y) return y < o.y;
        return z < o.z;
    }
};

using Vec3f = Vec3<float>;
using Vec3d = Vec3<double>;

template <typename T> constexpr T dot(const Vec3<T>& a, const Vec3<T>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <typename T> constexpr Vec3<T> cross(const Vec3<T>& a, const Vec3<T>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename T> T length(const Vec3<T>& a) { return std::sqrt(dot(a, a)); }

// Unit vector in the direction of a; the zero vector (or one too long to
// measure) becomes (0, 0, 1) so that degenerate input still yields a usable
// direction.
template <typename T> Vec3<T> normalizeOrZ(const Vec3<T>& a) {
    T len = length(a);
    if (!(len > T(0)) || !std::isfinite(len)) return {0, 0, 1};
    return a / len;
}

// Angle of a cosine, clamped so that rounding past +-1 gives 0 or pi.
inline double angleOfCosine(double d) {
    if (d <= -1.0) return std::numbers::pi;
    if (d >= 1.0) return 0.0;
    return std::acos(d);
}
