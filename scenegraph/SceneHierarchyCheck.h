#pragma once
// Checks the child lists a scene file gives before any node is linked: the
// node tree must stay a forest hanging from the root, whatever the file
// says. Child IDs that name no node are left for the linking step.

#include "VSceneNode.h"

#include <cstddef>
#include <vector>

// True when no child list names the root, no node is listed as a child
// twice, and no node is its own ancestor. Otherwise false, with the message
// on the error log and faultyRecord set to the record at fault.
bool checkNodeHierarchy(uint32_t rootId, const std::vector<VSceneNodeRecord>& records, size_t& faultyRecord);
