#pragma once
// The selection's view for tests: the eye on +z at `distance`, looking down
// -z (the model-view scaled by `scale`), with bound e and projection constant p.

#include "ImpostorSelection.h"

inline SelectionView viewFrom(double distance, double e, double p, double scale = 1) {
    SelectionView view;
    for (int c = 0; c < 3; ++c) view.modelView[5 * c] = float(scale);
    view.modelView[14] = float(-distance);
    view.e2 = e * e;
    view.Q = e;
    view.P = p * p;
    return view;
}
