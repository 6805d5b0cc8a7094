#include "controls/LcdRotation.h"

#include <cmath>
#include <numbers>

namespace {

// Nearest integer, ties to even (the default rounding mode).
int Round(double v) { return static_cast<int>(std::nearbyint(v)); }

double PolarAngle(double x, double y)
{
    if (x == 0)
        return y > 0 ? -std::numbers::pi / 2 : std::numbers::pi / 2;
    return std::atan2(-y, x);
}

} // namespace

double AngleRadians(int tenthsOfDegree) { return tenthsOfDegree * std::numbers::pi / 1800; }

QSize RotatedBoundingBox(int width, int height, double theta)
{
    const double c = std::fabs(std::cos(theta));
    const double s = std::fabs(std::sin(theta));
    return QSize(Round(c * width + s * height), Round(s * width + c * height));
}

void RotatePoints(QPoint *points, int count, double theta, QPoint centre)
{
    // A whole number of turns leaves every point where it is; skip the trigonometry.
    if (std::fmod(theta, 2 * std::numbers::pi) == 0)
        return;

    for (int i = 0; i < count; ++i) {
        const double x = points[i].x();
        const double y = points[i].y();
        const double r = std::sqrt(x * x + y * y);
        if (Round(r) == 0)
            continue;
        const double phi = PolarAngle(x, y) + theta;
        points[i] = QPoint(Round(r * std::cos(phi)), -Round(r * std::sin(phi)));
    }

    const double cx = centre.x();
    const double cy = centre.y();
    const double d = std::sqrt(cx * cx + cy * cy);
    if (Round(d) == 0)
        return;
    const double psi = PolarAngle(cx, cy) + theta;
    const QPoint correction(Round(cx - d * std::cos(psi)), Round(cy + d * std::sin(psi)));
    for (int i = 0; i < count; ++i)
        points[i] += correction;
}

LightSector LightingSector(double theta)
{
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double q = std::sqrt(0.5);

    // Later tests override earlier ones where the quadrants share an axis.
    int quadrant = 0;
    if (c >= 0 && s >= 0)
        quadrant = 1;
    if (c >= 0 && s <= 0)
        quadrant = 4;
    if (c <= 0 && s >= 0)
        quadrant = 2;
    if (c <= 0 && s <= 0)
        quadrant = 3;

    switch (quadrant) {
    case 1: return s <= q ? LightSector::Upright : LightSector::LeftTurned;
    case 2: return s <= q ? LightSector::UpsideDown : LightSector::LeftTurned;
    case 3: return s >= -q ? LightSector::UpsideDown : LightSector::RightTurned;
    default: return s >= -q ? LightSector::Upright : LightSector::RightTurned;
    }
}
