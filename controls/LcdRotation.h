#pragma once

#include <QPoint>
#include <QSize>

// Rotation of the indicator: angles are in tenths of a degree, positive turning the picture
// counter-clockwise on screen (y grows downwards).

double AngleRadians(int tenthsOfDegree);

// The window size that holds an IW x IH rectangle turned by the angle.
QSize RotatedBoundingBox(int width, int height, double theta);

// Turns the points about the centre. Each point is turned about the origin and rounded, then
// all are shifted by the rounded amount that brings the (unrounded) turned centre back onto
// itself, so every point of a set moves by the same correction.
void RotatePoints(QPoint *points, int count, double theta, QPoint centre);

// Which way up the indicator stands on screen; the bevels keep their light from the top left.
enum class LightSector { Upright, LeftTurned, UpsideDown, RightTurned };
LightSector LightingSector(double theta);
