#pragma once
// The viewer's part of reading a hierarchy: the impostor tree and its
// clustering under the current configuration, then the side files. A
// textures file built under the same settings is reused (its impostors are
// only placed again); a missing or differently built one is rendered anew,
// together with the geometry file.

#include <cstdint>
#include <string>

class VLODObject3D;
struct ImpostorSettings;

struct SideFileReport {
    bool created = false;      // the textures file was (re)built by this read
    bool written = false;      // both side files are in place
    uint64_t mv2Bytes = 0, mv3Bytes = 0;
};

ImpostorSettings currentImpostorSettings();

// Runs the impostor steps and the side-file step on a hierarchy that has just
// been read. False (with the reason) only when the impostors cannot be
// clustered; a side file that cannot be written leaves the object usable
// without impostor textures, with the reason printed.
bool setUpImpostorsAndSideFiles(VLODObject3D& object, SideFileReport& report, std::string& error);
// The same after a read, unless the read ran it already (where the viewer's
// part of reading is installed): the side files are not checked twice.
bool ensureImpostorsAndSideFiles(VLODObject3D& object, std::string& error);

// Makes every read run the step above whenever an OpenGL context is current.
void installViewerSetup();
