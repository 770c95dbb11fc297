#!/usr/bin/env python3
"""Makes a large test mesh: the Stanford dragon refined by Loop subdivision.

usage: make_large_mesh.py [--levels N] [--input PLY] [--output PLY]

Defaults: 2 levels, input data/dragon/dragon_vrip.ply (871K triangles),
output data/large/dragon_x{4^N}.ply (2 levels: dragon_x16.ply, 13.9M
triangles). The input may be ASCII or binary PLY with triangle faces; only
the vertices' x, y, z are read. The output is little-endian binary PLY
(float x, y, z; faces as uchar count and int indices), written beside its
name and renamed into place. The same input gives the same bytes every run.

Before subdividing, the mesh is cleaned as the importer would clean it:
vertices at the same position are merged, triangles that repeat a corner
go, and so do later copies of a triangle and flaps (a triangle and its
reverse). Each level splits every triangle into four: edge points
and moved vertices follow Loop's masks, so the result is a smooth surface,
not the old facets cut up. Edges without exactly two triangles (the scan's
holes, and any non-manifold edge) are creases: their points use the
boundary masks, so holes stay open with smooth rims, and a vertex where
other than two crease edges meet stays where it is.

numpy only, every step over whole arrays: the dragon's 2 levels take about
20 seconds and 1.3 GB.
"""

import argparse
import math
import os
import sys
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PLY_TYPES = {
    "char": "i1", "int8": "i1", "uchar": "u1", "uint8": "u1",
    "short": "i2", "int16": "i2", "ushort": "u2", "uint16": "u2",
    "int": "i4", "int32": "i4", "uint": "u4", "uint32": "u4",
    "float": "f4", "float32": "f4", "double": "f8", "float64": "f8",
}


class MeshError(Exception):
    pass


# ---------------------------------------------------------------------------
# Reading


def parse_header(data):
    """Returns (format, elements, body offset); an element is
    (name, count, [(property name, type, list count type or None)])."""
    end = data.find(b"end_header")
    if not data.startswith(b"ply") or end < 0:
        raise MeshError("not a PLY file (no 'ply' magic or no end_header)")
    body = data.index(b"\n", end) + 1
    fmt, elements = None, []
    for line in data[:end].decode("ascii", "replace").splitlines()[1:]:
        words = line.split()
        if not words or words[0] in ("comment", "obj_info"):
            continue
        if words[0] == "format":
            fmt = words[1]
        elif words[0] == "element":
            elements.append((words[1], int(words[2]), []))
        elif words[0] == "property" and elements:
            if words[1] == "list":
                elements[-1][2].append((words[4], words[3], words[2]))
            else:
                elements[-1][2].append((words[2], words[1], None))
        else:
            raise MeshError(f"unexpected header line '{line}'")
    if fmt not in ("ascii", "binary_little_endian", "binary_big_endian"):
        raise MeshError(f"unknown PLY format '{fmt}'")
    for name, _, props in elements:
        for prop, kind, count_kind in props:
            if kind not in PLY_TYPES or (count_kind and count_kind not in PLY_TYPES):
                raise MeshError(f"unknown type of property '{prop}' of element '{name}'")
    return fmt, elements, body


def element_dtype(name, props, endian):
    """The record of one element; lists are only allowed as a face's
    corners, read as a count and three indices."""
    fields = []
    for prop, kind, count_kind in props:
        if count_kind is None:
            fields.append((prop, endian + PLY_TYPES[kind]))
        elif name == "face" and prop in ("vertex_indices", "vertex_index"):
            fields.append(("corner_count", endian + PLY_TYPES[count_kind]))
            fields.append(("corners", endian + PLY_TYPES[kind], (3,)))
        else:
            raise MeshError(f"cannot read list property '{prop}' of element '{name}'")
    return np.dtype(fields)


def read_elements_binary(data, fmt, elements, offset):
    endian = "<" if fmt == "binary_little_endian" else ">"
    records = {}
    for name, count, props in elements:
        dtype = element_dtype(name, props, endian)
        if offset + count * dtype.itemsize > len(data):
            raise MeshError(f"file ends inside element '{name}'")
        # A face that is not a triangle changes the record size: caught below.
        records[name] = np.frombuffer(data, dtype, count, offset)
        offset += count * dtype.itemsize
    return records


def read_elements_ascii(data, elements, offset):
    values = np.fromstring(data[offset:].decode("ascii", "replace"), dtype=np.float64, sep=" ")
    records, start = {}, 0
    for name, count, props in elements:
        dtype = element_dtype(name, props, "")
        columns = sum(int(np.prod(dtype[f].shape)) for f in dtype.names)
        block = values[start:start + count * columns]
        if block.size != count * columns:
            raise MeshError(f"element '{name}' has fewer numbers than its header says")
        block = block.reshape(count, columns)
        record = np.zeros(count, dtype)
        column = 0
        for field in dtype.names:
            width = int(np.prod(dtype[field].shape))
            record[field] = block[:, column:column + width].reshape(record[field].shape)
            column += width
        records[name] = record
        start += count * columns
    return records


def read_ply(path):
    """Returns the positions (n x 3 float64) and triangles (m x 3 int64)."""
    with open(path, "rb") as f:
        data = f.read()
    fmt, elements, offset = parse_header(data)
    names = [name for name, _, _ in elements]
    if "vertex" not in names or "face" not in names:
        raise MeshError("needs a vertex and a face element")
    if fmt == "ascii":
        records = read_elements_ascii(data, elements, offset)
    else:
        records = read_elements_binary(data, fmt, elements, offset)
    vertex, face = records["vertex"], records["face"]
    if any(axis not in vertex.dtype.names for axis in "xyz"):
        raise MeshError("vertices lack x, y or z")
    if "corners" not in face.dtype.names:
        raise MeshError("faces lack vertex_indices")
    if np.any(face["corner_count"] != 3):
        raise MeshError("only triangle faces are supported")
    positions = np.stack([vertex[axis].astype(np.float64) for axis in "xyz"], axis=1)
    triangles = face["corners"].astype(np.int64)
    if triangles.size and (triangles.min() < 0 or triangles.max() >= len(positions)):
        raise MeshError("a face refers to a vertex that does not exist")
    return positions, triangles


# ---------------------------------------------------------------------------
# Clean-up before subdividing


def merge_equal_positions(positions, triangles):
    """Vertices at the same position become the first of them; survivors
    keep their order. Returns (positions, triangles, merged count)."""
    order = np.lexsort(positions.T[::-1])  # stable: the lowest index leads each run
    ordered = positions[order]
    starts = np.ones(len(order), bool)
    starts[1:] = np.any(ordered[1:] != ordered[:-1], axis=1)
    leader = order[starts][np.cumsum(starts) - 1]
    first = np.empty(len(order), np.int64)
    first[order] = leader
    kept = first == np.arange(len(positions))
    new_index = np.cumsum(kept) - 1
    return positions[kept], new_index[first][triangles], int(len(positions) - kept.sum())


def drop_bad_triangles(triangles):
    """Drops triangles with a repeated corner and every later copy of a
    triangle's corner set. A corner set that comes in both orientations is a
    flap of zero thickness, wrong on one side whichever copy stays: all of
    its copies go. Returns (triangles, dropped)."""
    t = triangles
    proper = (t[:, 0] != t[:, 1]) & (t[:, 1] != t[:, 2]) & (t[:, 2] != t[:, 0])
    t = t[proper]
    if len(t) == 0:
        return t, len(triangles)
    corners = np.sort(t, axis=1)
    order = np.lexsort(corners.T[::-1])  # stable: the first copy leads each run
    ordered = corners[order]
    starts = np.ones(len(t), bool)
    starts[1:] = np.any(ordered[1:] != ordered[:-1], axis=1)
    # An even rotation of the sorted corners has two ascending steps of three.
    t_ordered = t[order]
    sorted_way = ((t_ordered < np.roll(t_ordered, -1, axis=1)).sum(axis=1) == 2).astype(np.int8)
    group_starts = np.flatnonzero(starts)
    both_ways = (np.maximum.reduceat(sorted_way, group_starts) != np.minimum.reduceat(sorted_way, group_starts))
    keep = np.zeros(len(t), bool)
    keep[order] = starts & ~both_ways[np.cumsum(starts) - 1]
    t = t[keep]
    return t, len(triangles) - len(t)


def drop_unused_vertices(positions, triangles):
    used = np.zeros(len(positions), bool)
    used[triangles.ravel()] = True
    new_index = np.cumsum(used) - 1
    return positions[used], new_index[triangles]


# ---------------------------------------------------------------------------
# Loop subdivision


def build_edges(triangles, vertex_count):
    """Numbers the undirected edges in order of (lower, higher) corner.
    Returns (edge of each triangle side (m x 3; side k runs from corner k to
    k+1), lower and higher corner of each edge, triangles on each edge)."""
    start = triangles
    end = np.roll(triangles, -1, axis=1)
    keys = np.minimum(start, end) * vertex_count + np.maximum(start, end)
    unique_keys, side_edge, side_counts = np.unique(keys.ravel(), return_inverse=True, return_counts=True)
    lower, higher = np.divmod(unique_keys, vertex_count)
    return side_edge.reshape(triangles.shape), lower, higher, side_counts


def per_edge_sum(edge_of_item, values, edge_count):
    """Sums rows of values (k x 3) into their edges' rows."""
    return np.stack([np.bincount(edge_of_item, values[:, axis], edge_count) for axis in range(3)], axis=1)


def edge_points(positions, triangles, side_edge, lower, higher, crease):
    """A point per edge: 3/8 of each end and 1/8 of each opposite corner
    inside; the midpoint on a crease."""
    edge_count = len(lower)
    opposite = np.roll(triangles, -2, axis=1)  # the corner facing side k
    opposite_sum = per_edge_sum(side_edge.ravel(), positions[opposite.ravel()], edge_count)
    ends = positions[lower] + positions[higher]
    points = 0.375 * ends + 0.125 * opposite_sum
    points[crease] = 0.5 * ends[crease]
    return points


def loop_weight(valence):
    """Loop's weight of each neighbour for a vertex with that many."""
    n = np.maximum(valence, 1).astype(np.float64)
    return (0.625 - (0.375 + 0.25 * np.cos(2 * math.pi / n)) ** 2) / n


def vertex_points(positions, lower, higher, crease):
    """Moves each vertex: inside, towards the ring of its neighbours; on a
    crease through it, 3/4 itself and 1/8 each crease neighbour; where other
    than two crease edges meet, not at all."""
    n = len(positions)
    both = np.concatenate([lower, higher])
    other = np.concatenate([higher, lower])
    valence = np.bincount(both, minlength=n)
    ring_sum = per_edge_sum(both, positions[other], n)
    on_crease = np.concatenate([crease, crease])
    crease_valence = np.bincount(both[on_crease], minlength=n)
    crease_sum = per_edge_sum(both[on_crease], positions[other[on_crease]], n)

    beta = loop_weight(valence)[:, None]
    points = (1 - valence[:, None] * beta) * positions + beta * ring_sum
    rim = crease_valence == 2
    points[rim] = 0.75 * positions[rim] + 0.125 * crease_sum[rim]
    corner = (crease_valence > 0) & ~rim
    points[corner] = positions[corner]
    return points


def split_triangles(triangles, side_edge, vertex_count):
    """Four triangles per triangle, in its orientation and kept together:
    one at each corner, then the middle one. Edge points are numbered after
    the vertices."""
    c0, c1, c2 = triangles.T
    e01, e12, e20 = (side_edge + vertex_count).T
    children = np.stack([
        np.stack([c0, e01, e20], axis=1),
        np.stack([c1, e12, e01], axis=1),
        np.stack([c2, e20, e12], axis=1),
        np.stack([e01, e12, e20], axis=1),
    ], axis=1)
    return children.reshape(-1, 3)


def subdivide(positions, triangles):
    """One Loop level. Returns (positions, triangles, crease edges before)."""
    side_edge, lower, higher, counts = build_edges(triangles, len(positions))
    crease = counts != 2
    new_positions = np.concatenate([
        vertex_points(positions, lower, higher, crease),
        edge_points(positions, triangles, side_edge, lower, higher, crease),
    ])
    return new_positions, split_triangles(triangles, side_edge, len(positions)), int(crease.sum())


# ---------------------------------------------------------------------------
# Writing


def write_ply(path, positions, triangles, comment):
    """Little-endian binary PLY, written beside the name and renamed into place."""
    header = ("ply\nformat binary_little_endian 1.0\n"
              f"comment {comment}\n"
              f"element vertex {len(positions)}\n"
              "property float x\nproperty float y\nproperty float z\n"
              f"element face {len(triangles)}\n"
              "property list uchar int vertex_indices\nend_header\n")
    faces = np.empty(len(triangles), np.dtype([("count", "u1"), ("corners", "<i4", (3,))]))
    faces["count"] = 3
    faces["corners"] = triangles
    partial = path + ".part"
    try:
        with open(partial, "wb") as f:
            f.write(header.encode("ascii"))
            f.write(positions.astype("<f4").tobytes())
            f.write(faces.tobytes())
        os.replace(partial, path)
    except BaseException:
        if os.path.exists(partial):
            os.remove(partial)
        raise


# ---------------------------------------------------------------------------


def parse_arguments():
    parser = argparse.ArgumentParser(description="Refines a mesh by Loop subdivision into a large test mesh.")
    parser.add_argument("--levels", type=int, default=2, help="subdivision levels (each: 4x the triangles)")
    parser.add_argument("--input", default=os.path.join(ROOT, "data", "dragon", "dragon_vrip.ply"))
    parser.add_argument("--output", help="default: data/large/dragon_x{4^levels}.ply")
    args = parser.parse_args()
    if not 0 <= args.levels <= 4:
        parser.error("--levels takes 0 to 4")
    if args.output is None:
        args.output = os.path.join(ROOT, "data", "large", f"dragon_x{4 ** args.levels}.ply")
    return args


def main():
    args = parse_arguments()
    started = time.monotonic()
    try:
        positions, triangles = read_ply(args.input)
    except (OSError, MeshError) as e:
        print(f"make_large_mesh: cannot read {args.input}: {e}", file=sys.stderr)
        return 1
    read_counts = (len(positions), len(triangles))

    positions, triangles, merged = merge_equal_positions(positions, triangles)
    triangles, dropped = drop_bad_triangles(triangles)
    positions, triangles = drop_unused_vertices(positions, triangles)
    if len(triangles) == 0:
        print(f"make_large_mesh: {args.input} has no proper triangle", file=sys.stderr)
        return 1
    creases = []
    for _ in range(args.levels):
        positions, triangles, crease_edges = subdivide(positions, triangles)
        creases.append(crease_edges)
    if len(positions) >= 2 ** 31:
        print("make_large_mesh: too many vertices for int indices", file=sys.stderr)
        return 1

    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    comment = f"{os.path.basename(args.input)} after {args.levels} levels of Loop subdivision"
    try:
        write_ply(args.output, positions, triangles, comment)
    except OSError as e:
        print(f"make_large_mesh: cannot write {args.output}: {e}", file=sys.stderr)
        return 1

    cleaned = f" ({merged} vertices merged, {dropped} triangles dropped)" if merged or dropped else ""
    # Each level should double them: a level splits each and adds none.
    border = f"; border or non-manifold edges by level {' -> '.join(map(str, creases))}" if creases else ""
    print(f"{os.path.basename(args.input)}: {read_counts[0]} vertices, {read_counts[1]} triangles{cleaned}"
          f" -> {os.path.basename(args.output)}: {len(positions)} vertices, {len(triangles)} triangles"
          f" ({args.levels} levels{border}) in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
