#!/usr/bin/env python3
"""Makes the content the viewer's two built-in scenes read, procedurally.

usage: make_scene_content.py OUTDIR

Writes, under OUTDIR:
  textures/cloudy_noon_{BK,DN,FR,UP,RT,LF}_256.png  sky box faces, 256x256
  textures/terrain.png                              tileable grass, 256x256
  meshes/boing747_hires.ply                         airliner, one closed part
  test/M_TREE4_branches.ply                         tree: trunk and branches
  test/M_TREE4_leafs.ply                            tree: leaves
  test/plane1_ih_c2.ply                             terrain: 128x128 height field

Standard library only, fixed seeds: the same files on every run.

Sky box faces, seen from the centre of the box with y up and the front at -z
(image right, image down): FR at -z (+x, -y), RT at +x (+z, -y), BK at +z
(-x, -y), LF at -x (-z, -y), UP at +y (+x, -z), DN at -y (+x, +z). A texel's
colour depends only on its direction from the centre, so faces placed that
way meet without seams.

Meshes are little-endian binary PLY, triangles counter-clockwise seen from
outside. The airplane is 1.0 long, its nose along -y, its top along +z and its
wings along x (a quarter turn about x, as the generated scene applies, stands
it upright with the nose along +z). The trees stand on the origin, y up, 0.2
tall; the terrain spans [-0.5, 0.5] in x and z with y up. (A hierarchy build
centres and scales each mesh into the unit cube anyway.)
"""

import math
import os
import random
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# Images


def write_png(path, width, height, rgb_rows):
    """Writes 8-bit RGB; rgb_rows holds one bytes object of width*3 per row."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rgb_rows)  # filter type 0 on every row
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def smooth(t):
    return t * t * (3 - 2 * t)


def smoothstep(a, b, x):
    t = min(1.0, max(0.0, (x - a) / (b - a)))
    return smooth(t)


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    return (lerp(c0[0], c1[0], t), lerp(c0[1], c1[1], t), lerp(c0[2], c1[2], t))


class TileNoise:
    """Fractal value noise on a periodic table of SIZE x SIZE, in [0, 1].

    Lattice periods divide the table size, so the table tiles seamlessly and
    so does any picture that samples it at a whole number of table periods.
    """
    SIZE = 128

    def __init__(self, seed, periods=(4, 8, 16, 32, 64)):
        rng = random.Random(seed)
        n = self.SIZE
        table = [0.0] * (n * n)
        total = 0.0
        amplitude = 1.0
        for period in periods:
            lattice = [rng.random() for _ in range(period * period)]
            scale = period / n
            for y in range(n):
                fy = y * scale
                y0 = int(fy)
                ty = smooth(fy - y0)
                r0, r1 = (y0 % period) * period, ((y0 + 1) % period) * period
                for x in range(n):
                    fx = x * scale
                    x0 = int(fx)
                    tx = smooth(fx - x0)
                    x1 = (x0 + 1) % period
                    x0 %= period
                    top = lerp(lattice[r0 + x0], lattice[r0 + x1], tx)
                    bottom = lerp(lattice[r1 + x0], lattice[r1 + x1], tx)
                    table[y * n + x] += amplitude * lerp(top, bottom, ty)
            total += amplitude
            amplitude *= 0.5
        lo, hi = min(table), max(table)
        self.table = [(v - lo) / (hi - lo) for v in table]

    def sample(self, u, v):
        """Bilinear lookup; u and v in table periods (1.0 = one whole tile)."""
        n = self.SIZE
        fx, fy = u * n, v * n
        x0, y0 = math.floor(fx), math.floor(fy)
        tx, ty = fx - x0, fy - y0
        x0 %= n
        y0 %= n
        x1, y1 = (x0 + 1) % n, (y0 + 1) % n
        t = self.table
        top = t[y0 * n + x0] + (t[y0 * n + x1] - t[y0 * n + x0]) * tx
        bottom = t[y1 * n + x0] + (t[y1 * n + x1] - t[y1 * n + x0]) * tx
        return top + (bottom - top) * ty


def to_byte(c):
    return max(0, min(255, int(c * 255 + 0.5)))


# Face name: (centre, image right, image down), directions from the box centre
# with y up and the front at -z; the up face has the front at its bottom edge,
# the down face has it at its top edge.
FACES = {
    "FR": ((0, 0, -1), (1, 0, 0), (0, -1, 0)),
    "RT": ((1, 0, 0), (0, 0, 1), (0, -1, 0)),
    "BK": ((0, 0, 1), (-1, 0, 0), (0, -1, 0)),
    "LF": ((-1, 0, 0), (0, 0, -1), (0, -1, 0)),
    "UP": ((0, 1, 0), (1, 0, 0), (0, 0, -1)),
    "DN": ((0, -1, 0), (1, 0, 0), (0, 0, 1)),
}

ZENITH = (0.22, 0.42, 0.82)
HORIZON = (0.72, 0.82, 0.93)
GROUND = (0.33, 0.35, 0.36)
CLOUD_LIT = (0.98, 0.98, 0.99)
CLOUD_SHADE = (0.70, 0.73, 0.78)


def sky_colour(noise, dx, dy, dz):
    """Colour seen in the direction (dx, dy, dz), a unit vector."""
    if dy <= 0:
        return mix(HORIZON, GROUND, smoothstep(0.0, 0.12, -dy))
    colour = mix(HORIZON, ZENITH, math.sqrt(dy))
    fade = smoothstep(0.03, 0.3, dy)
    if fade <= 0:
        return colour
    # Clouds on a plane above the viewer: they crowd towards the horizon.
    k = 0.45 / (dy + 0.15)
    px, pz = dx * k, dz * k
    coarse = noise.sample(px, pz)
    detail = noise.sample(2.9 * px + 0.37, 2.9 * pz + 0.71)
    density = smoothstep(0.5, 0.78, 0.7 * coarse + 0.3 * detail) * fade
    if density <= 0:
        return colour
    cloud = mix(CLOUD_LIT, CLOUD_SHADE, smoothstep(0.35, 0.85, detail) * 0.8)
    return mix(colour, cloud, density)


def write_sky_face(path, noise, frame, size=256):
    (cx, cy, cz), (rx, ry, rz), (ux, uy, uz) = frame
    rows = []
    for j in range(size):
        b = 2 * (j + 0.5) / size - 1
        row = bytearray()
        for i in range(size):
            a = 2 * (i + 0.5) / size - 1
            dx, dy, dz = cx + a * rx + b * ux, cy + a * ry + b * uy, cz + a * rz + b * uz
            inv = 1 / math.sqrt(dx * dx + dy * dy + dz * dz)
            r, g, bl = sky_colour(noise, dx * inv, dy * inv, dz * inv)
            row += bytes((to_byte(r), to_byte(g), to_byte(bl)))
        rows.append(bytes(row))
    write_png(path, size, size, rows)


def write_terrain_texture(path, noise, size=256):
    """Grass with darker tufts and bare earth patches; tiles in both directions."""
    grass, dry, earth = (0.24, 0.42, 0.15), (0.42, 0.50, 0.22), (0.45, 0.35, 0.23)
    rng = random.Random(7)
    rows = []
    for j in range(size):
        v = j / size
        row = bytearray()
        for i in range(size):
            u = i / size
            patches = noise.sample(u, v)
            # Two unrelated whole-number frequencies: tileable without a visible lattice.
            tufts = 0.55 * noise.sample(3 * u + 0.5, 3 * v + 0.25) + 0.45 * noise.sample(7 * v + 0.1, 7 * u + 0.6)
            colour = mix(grass, dry, smoothstep(0.3, 0.8, tufts))
            colour = mix(colour, earth, smoothstep(0.62, 0.75, patches))
            shade = 0.85 + 0.3 * noise.sample(8 * u, 8 * v) + rng.uniform(-0.06, 0.06)
            row += bytes(to_byte(c * shade) for c in colour)
        rows.append(bytes(row))
    write_png(path, size, size, rows)


# ---------------------------------------------------------------------------
# Meshes


class Mesh:
    """Vertices and polygons (triangles or quads, by vertex index)."""

    def __init__(self):
        self.vertices = []
        self.faces = {}  # sorted corner tuple -> corners in order

    def vertex(self, p):
        self.vertices.append(tuple(float(c) for c in p))
        return len(self.vertices) - 1

    def face(self, *corners):
        self.faces[tuple(sorted(corners))] = corners

    def remove_face(self, *corners):
        del self.faces[tuple(sorted(corners))]

    def triangles(self):
        out = []
        for f in self.faces.values():
            out.extend((f[0], f[k - 1], f[k]) for k in range(2, len(f)))
        return out


def orient_outwards(vertices, triangles):
    """Turns triangles so that neighbours agree, then each connected part so
    that it encloses positive volume (faces outwards). Assumes a manifold."""
    by_edge = {}
    for t, (a, b, c) in enumerate(triangles):
        for p, q in ((a, b), (b, c), (c, a)):
            by_edge.setdefault((min(p, q), max(p, q)), []).append(t)
    tris = [list(t) for t in triangles]
    part = [-1] * len(tris)
    parts = 0
    for start in range(len(tris)):
        if part[start] >= 0:
            continue
        part[start] = parts
        stack = [start]
        while stack:
            t = stack.pop()
            a, b, c = tris[t]
            for p, q in ((a, b), (b, c), (c, a)):
                for n in by_edge[(min(p, q), max(p, q))]:
                    if part[n] >= 0:
                        continue
                    part[n] = parts
                    x, y, z = tris[n]
                    if (x, y) == (p, q) or (y, z) == (p, q) or (z, x) == (p, q):
                        tris[n] = [y, x, z]  # runs the same way along the edge
                    stack.append(n)
        parts += 1
    volume = [0.0] * parts
    for t, (a, b, c) in enumerate(tris):
        (ax, ay, az), (bx, by, bz), (cx, cy, cz) = vertices[a], vertices[b], vertices[c]
        volume[part[t]] += ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx)
    return [(b, a, c) if volume[part[t]] < 0 else (a, b, c) for t, (a, b, c) in enumerate(tris)]


def write_ply(path, vertices, triangles):
    """Binary little-endian PLY of the vertices the triangles use."""
    used = sorted({i for t in triangles for i in t})
    index = {old: new for new, old in enumerate(used)}
    header = ("ply\nformat binary_little_endian 1.0\ncomment made by make_scene_content.py\n"
              "element vertex %d\nproperty float x\nproperty float y\nproperty float z\n"
              "element face %d\nproperty list uchar int vertex_indices\nend_header\n" % (len(used), len(triangles)))
    body = bytearray(header.encode("ascii"))
    for i in used:
        body += struct.pack("<3f", *vertices[i])
    for a, b, c in triangles:
        body += struct.pack("<B3i", 3, index[a], index[b], index[c])
    with open(path, "wb") as f:
        f.write(body)


def extrude(mesh, grid, steps, position):
    """Pulls a rectangular patch of quads out of the surface, box-modelling
    style: the patch's faces go, its border is copied `steps` times to
    position(k, row, col) and joined ring to ring, and the last copy is closed
    by a copy of the patch. The result stays closed and in one piece.
    Returns the rings (each {(row, col): vertex}) and the closing patch."""
    rows, cols = len(grid), len(grid[0])
    for r in range(rows - 1):
        for c in range(cols - 1):
            mesh.remove_face(grid[r][c], grid[r][c + 1], grid[r + 1][c + 1], grid[r + 1][c])
    border = ([(0, c) for c in range(cols)] + [(r, cols - 1) for r in range(1, rows)] +
              [(rows - 1, c) for c in range(cols - 2, -1, -1)] + [(r, 0) for r in range(rows - 2, 0, -1)])
    previous = [grid[r][c] for r, c in border]
    rings = []
    for k in range(1, steps + 1):
        ring = [mesh.vertex(position(k, r, c)) for r, c in border]
        for i in range(len(border)):
            j = (i + 1) % len(border)
            mesh.face(previous[i], previous[j], ring[j], ring[i])
        rings.append(dict(zip(border, ring)))
        previous = ring
    last = rings[-1]
    cap = [[last[(r, c)] if (r, c) in last else mesh.vertex(position(steps, r, c)) for c in range(cols)]
           for r in range(rows)]
    for r in range(rows - 1):
        for c in range(cols - 1):
            mesh.face(cap[r][c], cap[r][c + 1], cap[r + 1][c + 1], cap[r + 1][c])
    return rings, cap


# --- The airliner, built with y up and the nose along +z, 1.0 long ---------

FUSELAGE_RADIUS = 0.05
SEGMENTS = 32  # around the fuselage; vertex j sits at angle 2*pi*j/SEGMENTS from +x towards +y


def fuselage_stations():
    """(t, radius, centre height) along the body, t = 0 at the tail, 1 at the nose."""
    R = FUSELAGE_RADIUS
    stations = []
    for i in range(1, 21):  # tail cone, swept up
        t = 0.32 * i / 21
        f = smooth(t / 0.32)
        stations.append((t, R * (0.14 + 0.86 * f), 0.55 * R * (1 - f)))
    for i in range(36):  # cylindrical body
        stations.append((0.32 + 0.56 * i / 36, R, 0.0))
    for i in range(9):  # rounded nose, drooping a little
        phi = (math.pi / 2) * i / 9.5
        stations.append((0.88 + 0.12 * math.sin(phi), R * math.cos(phi), -0.3 * R * (1 - math.cos(phi))))
    return stations


def fuselage_point(t, radius, centre, angle):
    # The upper deck: a hump over the front of the crown that fades into the nose.
    hump = 0.45 * FUSELAGE_RADIUS * smoothstep(0.6, 0.74, t) * (radius / FUSELAGE_RADIUS) ** 2
    s = math.sin(angle)
    return (radius * math.cos(angle), centre + radius * s + hump * max(0.0, s) ** 3, t - 0.5)


def build_fuselage(mesh):
    """A closed tube with a pole at each end; returns rings[i][j] and station t."""
    stations = fuselage_stations()
    rings = [[mesh.vertex(fuselage_point(t, r, yc, 2 * math.pi * j / SEGMENTS)) for j in range(SEGMENTS)]
             for t, r, yc in stations]
    for i in range(len(rings) - 1):
        for j in range(SEGMENTS):
            k = (j + 1) % SEGMENTS
            mesh.face(rings[i][j], rings[i][k], rings[i + 1][k], rings[i + 1][j])
    t0, r0, y0 = stations[0]
    tail = mesh.vertex((0.0, y0, t0 - 0.5 - 0.3 * r0))
    nose = mesh.vertex((0.0, stations[-1][2] - 0.1 * FUSELAGE_RADIUS, 0.5))
    for j in range(SEGMENTS):
        k = (j + 1) % SEGMENTS
        mesh.face(tail, rings[0][k], rings[0][j])
        mesh.face(nose, rings[-1][j], rings[-1][k])
    return rings, [t for t, _, _ in stations]


def station_range(ts, t_from, t_to):
    """Station indices within [t_from, t_to], front (nose side) first."""
    return [i for i in range(len(ts) - 1, -1, -1) if t_from <= ts[i] <= t_to]


def patch(rings, segments, stations):
    """The fuselage vertices of the given segments (rows) and stations (columns)."""
    return [[rings[i][j % SEGMENTS] for i in stations] for j in segments]


def half_thickness(u, relative, chord):
    """A symmetric four-digit airfoil: half its thickness at chord fraction u."""
    return 5 * relative * chord * (0.2969 * math.sqrt(u) - 0.126 * u - 0.3516 * u * u + 0.2843 * u ** 3 -
                                    0.1015 * u ** 4)


def chord_fraction(row, col, cols):
    """Chord fraction of a surface vertex: the middle row holds the leading and
    trailing edge points, the outer rows (the two surfaces) stop just short."""
    f = (1 - math.cos(math.pi * col / (cols - 1))) / 2
    return f if row == 1 else 0.015 + 0.97 * f


def lifting_surface(mesh, grid, steps, span, sweep, tip_ratio, thickness, dihedral, axis, kink=None):
    """Extrudes a wing-like surface from a 3-row fuselage patch: rows run
    across the surface (row 0 below/left), columns from leading to trailing
    edge. axis: unit direction of the span in the x-y plane. Returns the rings."""
    rows, cols = len(grid), len(grid[0])
    pts = [mesh.vertices[v] for row in grid for v in row]
    root_le, root_te = max(p[2] for p in pts), min(p[2] for p in pts)
    root_chord = root_le - root_te
    ax, ay = axis
    px, py = abs(ay), abs(ax)  # across the span: up for wings, +x for the fin
    reach = max(p[0] * ax + p[1] * ay for p in pts)
    # Where the patch's middle row sits across the span direction.
    mid = [mesh.vertices[v] for v in grid[1]]
    across = sum(p[0] * px + p[1] * py for p in mid) / len(mid)

    def chord_at(s):
        if kink is None:
            return root_chord * lerp(1, tip_ratio, s)
        ks, kc = kink
        if s < ks:
            return root_chord * lerp(1, kc, s / ks)
        return root_chord * lerp(kc, tip_ratio, (s - ks) / (1 - ks))

    def position(k, r, c):
        s = (k - 1) / (steps - 1)
        out = reach + 0.002 + s * span  # distance along the span direction
        le = root_le - (out - reach) * math.tan(math.radians(sweep))
        chord = chord_at(s)
        u = chord_fraction(r, c, cols)
        side = (r - 1) * half_thickness(max(u, 1e-4), lerp(thickness, 0.75 * thickness, s), chord)
        off = across + (out - reach) * math.tan(math.radians(dihedral)) + side
        return (out * ax + off * px, out * ay + off * py, le - u * chord)

    rings, _ = extrude(mesh, grid, steps, position)
    return rings


def engine(mesh, rings, k, cols, ahead):
    """Hangs an engine under a wing: a pylon and a round nacelle pulled from
    the lower surface between span rings k and k+1, over the given chord
    columns; the nacelle reaches `ahead` in front of the wing."""
    grid = [[rings[k][(0, c)] for c in cols], [rings[k + 1][(0, c)] for c in cols]]
    pts = [mesh.vertices[v] for row in grid for v in row]
    xc = sum(p[0] for p in pts) / len(pts)
    top = min(p[1] for p in pts)
    front = max(p[2] for p in pts)
    z_front, length, radius, drop = front + ahead, 0.1, 0.019, 0.022
    slices = 10
    # Row 0 lies on the outer side of the left wing: keep each row on its own side.
    outward = 1 if mesh.vertices[grid[0][0]][0] < mesh.vertices[grid[1][0]][0] else -1

    def position(step, r, c):
        u = c / (len(cols) - 1)
        side = (2 * r - 1) * outward
        if step == 1:  # pylon, halfway from the wing to the nacelle
            w, depth = 0.004, drop / 2
            z = lerp(lerp(front, front - 0.06, u), lerp(z_front, z_front - length * 0.8, u), 0.5)
        else:
            phi = math.pi * (step - 1) / (slices + 1)
            w, depth = max(0.004, radius * math.sin(phi)), drop + radius * (1 - math.cos(phi))
            taper = 0.02 * (1 - math.sin(phi)) * u  # the exhaust narrows to a cone
            z = z_front - u * (length - taper)
        return (xc + side * w, top - depth, z)

    extrude(mesh, grid, slices + 1, position)


def build_airliner():
    mesh = Mesh()
    rings, ts = build_fuselage(mesh)
    wing_stations = station_range(ts, 0.43, 0.665)
    wings = []
    # Low wings below the middle of each side; segment rows ordered upwards.
    for segments, axis in (([29, 30, 31], (1.0, 0.0)), ([19, 18, 17], (-1.0, 0.0))):
        grid = patch(rings, segments, wing_stations)
        wings.append(lifting_surface(mesh, grid, 14, 0.41, 37.5, 0.24, 0.1, 6.0, axis, kink=(0.3, 0.55)))
    for wing in wings:
        for k in (4, 9):
            engine(mesh, wing, k, list(range(1, 6)), 0.055)
    tail = station_range(ts, 0.03, 0.2)
    # The fin on top (rows from left to right), the stabilisers at the sides.
    lifting_surface(mesh, patch(rings, [9, 8, 7], tail), 8, 0.13, 45.0, 0.35, 0.1, 0.0, (0.0, 1.0))
    stab = station_range(ts, 0.02, 0.13)
    lifting_surface(mesh, patch(rings, [31, 0, 1], stab), 7, 0.15, 37.0, 0.35, 0.09, 7.0, (1.0, 0.0))
    lifting_surface(mesh, patch(rings, [17, 16, 15], stab), 7, 0.15, 37.0, 0.35, 0.09, 7.0, (-1.0, 0.0))
    # Stand the nose along -y and the top along +z (the scene turns it back).
    vertices = [(x, -z, y) for x, y, z in mesh.vertices]
    return vertices, orient_outwards(vertices, mesh.triangles())


# --- The tree: branches by a recursive rule, leaves at the twigs -----------

TREE_HEIGHT = 0.2


def perpendicular(d):
    """Some unit vector at right angles to the unit vector d."""
    a = (1.0, 0.0, 0.0) if abs(d[0]) < 0.9 else (0.0, 1.0, 0.0)
    p = cross(d, a)
    return normalised(p)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalised(v):
    n = math.sqrt(v[0] ** 2 + v[1] ** 2 + v[2] ** 2)
    return (v[0] / n, v[1] / n, v[2] / n)


def along(p, d, t):
    return (p[0] + d[0] * t, p[1] + d[1] * t, p[2] + d[2] * t)


def frustum(mesh, base, top, r0, r1, sides):
    """A closed tapered cylinder from base to top."""
    d = normalised((top[0] - base[0], top[1] - base[1], top[2] - base[2]))
    e1 = perpendicular(d)
    e2 = cross(d, e1)
    rings = []
    for centre, r in ((base, r0), (top, r1)):
        ring = []
        for k in range(sides):
            a = 2 * math.pi * k / sides
            c, s = math.cos(a) * r, math.sin(a) * r
            ring.append(mesh.vertex((centre[0] + c * e1[0] + s * e2[0], centre[1] + c * e1[1] + s * e2[1],
                                     centre[2] + c * e1[2] + s * e2[2])))
        rings.append(ring)
    bottom, cap = mesh.vertex(base), mesh.vertex(top)
    for k in range(sides):
        n = (k + 1) % sides
        mesh.face(rings[0][k], rings[0][n], rings[1][n], rings[1][k])
        mesh.face(bottom, rings[0][n], rings[0][k])
        mesh.face(cap, rings[1][k], rings[1][n])


def tilted(d, angle, azimuth):
    """d turned by `angle` away from itself, towards the side `azimuth`."""
    e1 = perpendicular(d)
    e2 = cross(d, e1)
    ca, sa = math.cos(angle), math.sin(angle)
    side = along(along((0.0, 0.0, 0.0), e1, math.cos(azimuth)), e2, math.sin(azimuth))
    return normalised(along(along((0.0, 0.0, 0.0), d, ca), side, sa))


def grow_branch(mesh, rng, base, d, length, radius, depth, twigs):
    top = along(base, d, length)
    frustum(mesh, base, top, radius, radius * 0.7, 8 if depth >= 3 else 6)
    if depth == 0:
        twigs.append((base, top))
        return
    count = 3 if depth > 1 else rng.choice((2, 3, 3))
    turn = rng.uniform(0, 2 * math.pi)
    for i in range(count):
        azimuth = turn + 2 * math.pi * i / count + rng.uniform(-0.4, 0.4)
        child = tilted(d, math.radians(rng.uniform(28, 45)), azimuth)
        child = normalised((child[0], child[1] + 0.25, child[2]))  # reaching for the light
        # Children start inside the parent's end so that the joints look solid.
        start = along(base, d, length * rng.uniform(0.88, 0.96))
        grow_branch(mesh, rng, start, child, length * rng.uniform(0.66, 0.8), radius * 0.62, depth - 1, twigs)


def leaves(mesh, rng, twigs, per_twig):
    """Small single-sided quads, turned every way, around the outer twigs."""
    for base, top in twigs:
        for _ in range(per_twig):
            t = rng.uniform(0.3, 1.15)
            centre = (lerp(base[0], top[0], t) + rng.uniform(-0.04, 0.04), lerp(base[1], top[1], t) +
                      rng.uniform(-0.03, 0.04), lerp(base[2], top[2], t) + rng.uniform(-0.04, 0.04))
            n = normalised((rng.gauss(0, 1), rng.gauss(0, 1), rng.gauss(0, 1)))
            e1 = tilted(n, math.pi / 2, rng.uniform(0, 2 * math.pi))
            e2 = cross(n, e1)
            size = rng.uniform(0.02, 0.032)
            # A kite: long along e1, narrow along e2.
            corners = [along(centre, e1, -size), along(centre, e2, 0.45 * size), along(centre, e1, size),
                       along(centre, e2, -0.45 * size)]
            mesh.face(*[mesh.vertex(c) for c in corners])


def build_tree():
    rng = random.Random(4)
    branches, foliage = Mesh(), Mesh()
    twigs = []
    grow_branch(branches, rng, (0.0, 0.0, 0.0), (0.0, 1.0, 0.0), 0.32, 0.035, 4, twigs)
    leaves(foliage, rng, twigs, 22)
    # Scale both to the tree's height, standing on the origin.
    height = max(max(v[1] for v in branches.vertices), max(v[1] for v in foliage.vertices))
    k = TREE_HEIGHT / height
    scaled = lambda m: [(x * k, y * k, z * k) for x, y, z in m.vertices]
    wood = scaled(branches)
    return (wood, orient_outwards(wood, branches.triangles())), (scaled(foliage), foliage.triangles())


# --- The terrain model ------------------------------------------------------

def build_terrain(noise, size=128):
    """Gentle hills on a size x size grid over [-0.5, 0.5]^2, y up."""
    vertices = []
    for j in range(size):
        z = -0.5 + j / (size - 1)
        for i in range(size):
            x = -0.5 + i / (size - 1)
            h = 0.06 * (noise.sample(x + 0.5, z + 0.5) - 0.5)
            h += 0.015 * math.sin(2 * math.pi * 1.3 * x + 0.4) * math.cos(2 * math.pi * 1.1 * z)
            vertices.append((x, h, z))
    triangles = []
    for j in range(size - 1):
        for i in range(size - 1):
            a, b = j * size + i, j * size + i + 1
            c, d = a + size, b + size
            # Counter-clockwise seen from above (+y).
            triangles += [(a, c, b), (b, c, d)]
    return vertices, triangles


# ---------------------------------------------------------------------------

def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_scene_content.py OUTDIR\n")
        return 2
    out = argv[1]
    for folder in ("textures", "meshes", "test"):
        os.makedirs(os.path.join(out, folder), exist_ok=True)
    noise = TileNoise(seed=1234)
    for name, frame in FACES.items():
        write_sky_face(os.path.join(out, "textures", "cloudy_noon_%s_256.png" % name), noise, frame)
    write_terrain_texture(os.path.join(out, "textures", "terrain.png"), TileNoise(seed=99))
    write_ply(os.path.join(out, "meshes", "boing747_hires.ply"), *build_airliner())
    (wood, wood_tris), (leaf, leaf_tris) = build_tree()
    write_ply(os.path.join(out, "test", "M_TREE4_branches.ply"), wood, wood_tris)
    write_ply(os.path.join(out, "test", "M_TREE4_leafs.ply"), leaf, leaf_tris)
    hills = TileNoise(seed=5, periods=(2, 4, 8))  # low frequencies only: rolling, not rough
    write_ply(os.path.join(out, "test", "plane1_ih_c2.ply"), *build_terrain(hills))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
