#ifndef ANIMATION_H
#define ANIMATION_H

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "render/scene.h"

// Keyframes for `oxa-render --animate FILE.json`:
//
//   {"keys": [{"frame": 0, "view": {"nx": [..], "ny": [..], "nz": [..], "center": [..], "scale": s},
//              "cut": -20, "window": [low, high], "opacity": 255}, {"frame": 48, ...}]}
//
// Frames are numbered from 0 to the last key's; keys come in increasing frame order.
// Every member of a key but "frame" may be left out: it stays as the key before set
// it (the first key takes what is left out from the scene being animated). "cut",
// "window" (in the sets' units) and "opacity" apply to every set.
struct Keyframe {
    int frame = 0;
    std::optional<SceneView> view;  // each of its members as given or as before
    std::optional<int> cut;  // -100 .. 100
    std::optional<double> windowLow, windowHigh;
    std::optional<int> opacity;  // 0 .. 255
};

// Parses keyframes; false with a one-line reason naming the key at fault. A view's
// three directions are made orthonormal (nz kept, then ny); a view whose
// directions are not independent is refused.
bool parseKeyframes(const QByteArray &json, const SceneView &start, std::vector<Keyframe> &out, QString *error);

// The scenes of every frame from `base`, each made when it is asked for: between two
// keys the view turns along the shortest rotation from one to the other (its centre
// moves in a straight line, its scale changes by a constant factor per frame), and
// the cut position, the window and the opacity change evenly (whole numbers
// rounded). Section normals that follow the view (fixDir false) follow it.
class Animation {
public:
    Animation(const Scene &base, const std::vector<bool> &fixDir, const std::vector<Keyframe> &keys);

    // Frames 0 to the last key's; 0 without keys.
    int frameCount() const;
    Scene sceneAt(int frame) const;

private:
    struct State {
        int frame;
        SceneView view;
        std::vector<int> cut, opacity;
        std::vector<double> low, high;
    };
    Scene base_;
    std::vector<bool> fixDir_;
    std::vector<State> states_;
};

#endif
