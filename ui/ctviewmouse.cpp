#include "ui/ctview.h"

#include <cmath>

#include "render/scene.h"
#include "widgets/chcoord.h"
#include "widgets/mousec.h"

namespace {

const double pi = 3.141592653589793;

// The pointer of the display's relay, normalised to 0 at the left and bottom
// edges and 1 at the right and top edges. On a display one pixel wide or high
// the mapper's pixel extent is zero and the division gives no number; that
// axis then keeps its last value, so such a display reads as no movement.
void normalisedPointer(ChCoord *coord, const MouseC *mouse, double lastX, double lastY, double &a, double &b)
{
    coord->setRange(0, 0, 1, 1);
    a = coord->pixToX(mouse->pos.x());
    b = coord->pixToY(mouse->pos.y());
    if (!std::isfinite(a))
        a = lastX;
    if (!std::isfinite(b))
        b = lastY;
}

}  // namespace

// Turns nx, ny and nz by -th about rax (right-hand rule); rax must be a unit vector.
// Emits newNz even when th is 0, then redraws.
void CtView::updateNvs(Vec3 rax, double th)
{
    const SceneView v = render::turned(view(), rax, th);
    setDirection(v.nx, v.ny, v.nz);
    paintPImg();
}

void CtView::mousePressedOnDataDisp()
{
    double a = 0.0;
    double b = 0.0;
    normalisedPointer(dispCoord, dispMouse, lastX, lastY, a, b);
    lastX = a;
    lastY = b;

    const int keyMask = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    const int keys = dispMouse->pressModifiers & keyMask;
    const int button = dispMouse->pressButton;

    if (button == Qt::RightButton) {
        dragMode = keys == 0 ? 1 : 2;
    } else if (button == Qt::LeftButton && keys == Qt::ShiftModifier) {
        dragMode = 1;
    } else if (button == Qt::LeftButton && keys == 0) {
        dragMode = 0;
        rotKind = 0;
        // A corner counts as the top or bottom band; the bounds belong to the middle.
        if (lastY > 0.85)
            rotKind = 3;
        else if (lastY < 0.15)
            rotKind = 4;
        else if (lastX > 0.85)
            rotKind = 2;
        else if (lastX < 0.15)
            rotKind = 1;
    } else {
        dragMode = 2;
    }
}

void CtView::mouseMovedOnDataDisp()
{
    double a = 0.0;
    double b = 0.0;
    normalisedPointer(dispCoord, dispMouse, lastX, lastY, a, b);
    const double dx = a - lastX;
    const double dy = b - lastY;

    if (dragMode == 1) {
        // The picture extent in volume units, truncated toward zero as an int would be
        // (std::trunc keeps a huge zoom-out from overflowing an int).
        const double wt = std::trunc(pImg.width() * scale);
        const double ht = std::trunc(pImg.height() * scale);
        center.x = center.x - dx * wt * nx.x + dy * ht * ny.x;
        center.y = center.y - dx * wt * nx.y + dy * ht * ny.y;
        center.z = center.z - dx * wt * nx.z + dy * ht * ny.z;
        paintPImg();
    } else if (dragMode == 0) {
        Vec3 rax;
        double th = 0.0;
        bool turn = true;
        switch (rotKind) {
        case 0: {
            const double g = std::sqrt(dx * dx + dy * dy);
            if (g == 0.0) {
                turn = false;
                break;
            }
            rax.x = (dy / g) * nx.x + (dx / g) * ny.x;
            rax.y = (dy / g) * nx.y + (dx / g) * ny.y;
            rax.z = (dy / g) * nx.z + (dx / g) * ny.z;
            th = g * pi;
            break;
        }
        case 1:
            rax = nz;
            th = dy * pi;
            break;
        case 2:
            rax = nz;
            th = -dy * pi;
            break;
        case 3:
            rax = nz;
            th = dx * pi;
            break;
        case 4:
            rax = nz;
            th = -dx * pi;
            break;
        default:
            turn = false;
            break;
        }
        if (turn)
            updateNvs(rax, th);
    }

    lastX = a;
    lastY = b;
}

void CtView::mouseReleasedOnDataDisp()
{
    dragMode = 2;
    // A drag drawn from coarse copies ends on the exact picture.
    if (coarseShown_)
        paintPImg();
}

// 0.9 per event whatever the number of notches; step 0 only redraws.
void CtView::wheelMovedOnDataDisp(int step)
{
    double next = scale;
    if (step > 0)
        next = scale * 0.9;
    else if (step < 0)
        next = scale / 0.9;
    // Thousands of notches one way would reach 0 or infinity, which no picture
    // can be drawn at; the scale then stays where it is.
    if (std::isnormal(next))
        scale = next;
    paintPImg();
}
