#include "NormalCone.h"

#include "BoundingSphere.h"
#include "LogStream.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kRadToDeg = 180.0 * 0.3183098861837907;
constexpr double kContainsTolerance = 0.0001;

// Smallest dot product between axis and the normals; stops early and returns
// a value <= floor as soon as the minimum cannot exceed floor any more.
double smallestDot(const Vec3d& axis, std::span<const Vec3f> normals, double floor) {
    double best = std::numeric_limits<double>::max();
    for (const Vec3f& n : normals) {
        best = std::min(best, dot(axis, Vec3d(n)));
        if (best <= floor) break;
    }
    return best;
}

// Centre of the smallest sphere around triangle (a, b, c), normalized: the
// direction that is equally far from the three normals.
Vec3d triangleSphereAxis(const Vec3f& a, const Vec3f& b, const Vec3f& c) {
    BoundingSphere s;
    s.setToTriangle(Vec3d(a), Vec3d(b), Vec3d(c));
    return normalizeOrZ(Vec3d(s.centre()));
}

// Axis from the centre of the normals' bounding box (start values +-1000).
Vec3d boxCentreAxis(std::span<const Vec3f> normals) {
    Vec3d lo(1000, 1000, 1000), hi(-1000, -1000, -1000);
    for (const Vec3f& n : normals) {
        lo = {std::min<double>(lo.x, n.x), std::min<double>(lo.y, n.y), std::min<double>(lo.z, n.z)};
        hi = {std::max<double>(hi.x, n.x), std::max<double>(hi.y, n.y), std::max<double>(hi.z, n.z)};
    }
    return normalizeOrZ((lo + hi) * 0.5);
}

// Half angle of the cone around axis that holds all normals; an empty set
// counts as a dot product of 0.
double angleAround(const Vec3d& axis, std::span<const Vec3f> normals) {
    double d = normals.empty() ? 0.0 : smallestDot(axis, normals, -std::numeric_limits<double>::max());
    return angleOfCosine(d);
}

Vec3d rotateAbout(const Vec3d& v, const Vec3d& unitAxis, double angle) {
    // Rodrigues' rotation formula.
    double c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(unitAxis, v) * s + unitAxis * (dot(unitAxis, v) * (1 - c));
}
} // namespace

void NormalCone::setFromNormals(std::span<const Vec3f> normals) {
    const size_t n = normals.size();
    if (n > 2 && n < 51) {
        // Only a strictly better score replaces the best, so the first best
        // triple wins, and candidates scoring 0 or less are never taken.
        double bestScore = 0;
        bool found = false;
        Vec3d bestAxis;
        for (size_t i = 0; i < n; ++i)
            for (size_t j = i + 1; j < n; ++j)
                for (size_t k = j + 1; k < n; ++k) {
                    Vec3d candidate = triangleSphereAxis(normals[i], normals[j], normals[k]);
                    double score = smallestDot(candidate, normals, bestScore);
                    if (score > bestScore) {
                        bestScore = score;
                        bestAxis = candidate;
                        found = true;
                    }
                }
        if (found) axis = bestAxis;
        angle = found ? angleOfCosine(bestScore) : kPi / 2;
        return;
    }

    axis = boxCentreAxis(normals);
    angle = angleAround(axis, normals);
    double flipped = angleAround(-axis, normals);
    if (flipped < angle) {
        axis = -axis;
        angle = flipped;
    }
}

void NormalCone::merge(const NormalCone& nc) {
    const NormalCone old = *this;
    if (angle >= kPi) return;
    double alpha = angleOfCosine(dot(axis, nc.axis));
    if (alpha + nc.angle <= angle) return;

    if (nc.angle >= kPi || alpha + angle < nc.angle) {
        *this = nc;
    } else if (axis == nc.axis) {
        angle = std::max(angle, nc.angle);
    } else {
        Vec3d p = normalizeOrZ(cross(axis, nc.axis));
        const Vec3d boundary[4] = {rotateAbout(old.axis, p, old.angle), rotateAbout(old.axis, p, -old.angle),
                                   rotateAbout(nc.axis, p, nc.angle), rotateAbout(nc.axis, p, -nc.angle)};
        double bestScore = -1;
        Vec3d bestAxis = axis;
        auto consider = [&](const Vec3d& m) {
            double score = std::min(std::min(dot(m, old.axis), 1.0), dot(m, nc.axis));
            if (score > bestScore) {
                bestScore = score;
                bestAxis = m;
            }
        };
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j) {
                Vec3d m = normalizeOrZ((boundary[i] + boundary[j]) * 0.5);
                consider(m);
                consider(-m);
            }
        axis = bestAxis;
        angle = std::min(angleOfCosine(bestScore) + std::max(old.angle, nc.angle), kPi);
    }
    assert(contains(old) && "contains(old)");
    assert(contains(nc) && "contains(nc)");
    angle = std::max({angle, old.angle, nc.angle});
}

void NormalCone::extend(std::span<const NormalCone> cones) {
    const NormalCone old = *this;
    // A cone is the cap around its axis on the unit sphere; the sphere of
    // radius 2 sin(angle) around the axis point covers that cap.
    std::vector<BoundingSphere> caps;
    caps.reserve(cones.size() + 1);
    auto addCap = [&caps](const NormalCone& c) {
        BoundingSphere s;
        s.setCentre(c.axis);
        s.r = float(2 * std::sin(c.angle));
        caps.push_back(s);
    };
    addCap(old);
    for (const NormalCone& c : cones) addCap(c);

    BoundingSphere enclosing;
    enclosing.setToSmallestEnclosing(caps);
    axis = normalizeOrZ(Vec3d(enclosing.centre()));

    angle = angleOfCosine(dot(axis, old.axis)) + old.angle;
    for (const NormalCone& c : cones) angle = std::max(angle, angleOfCosine(dot(axis, c.axis)) + c.angle);
    angle = std::min(angle, kPi);
    for ([[maybe_unused]] const NormalCone& c : cones) assert(contains(c) && "contains(*cit)");
}

bool NormalCone::contains(const NormalCone& other) const {
    if (angle >= kPi) return true;
    double alpha = angleOfCosine(dot(axis, other.axis));
    double shortfall = alpha + other.angle - angle;
    if (shortfall > kContainsTolerance) {
        logOut() << "cone does not contain cone: difference " << shortfall * kRadToDeg << " angle "
                 << angle * kRadToDeg << " other angle " << other.angle * kRadToDeg << " between axes "
                 << alpha * kRadToDeg << "\n";
    }
    return shortfall < kContainsTolerance;
}
