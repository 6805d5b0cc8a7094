#pragma once

#include <QObject>

// The enumerations of the LCD indicator. They live in a namespace of their own so the character
// shape modules can use them without the widget; the widget brings them into its own scope, so
// a form description may name them either way.
namespace Zn {
Q_NAMESPACE

enum TZnColorScheme { csSilver, csInvSilver, csWhite, csBlack, csPlasma, csInvPlasma, csVORAN };
Q_ENUM_NS(TZnColorScheme)

enum TZnIndicatorKind { ik7segment, ik5x7matrix, ik9segment };
Q_ENUM_NS(TZnIndicatorKind)

enum TZnBevelKind { bkUP, bkDown, bkNone };
Q_ENUM_NS(TZnBevelKind)

enum TZnIndicatorStyle { isThin, isNormal, isThick };
Q_ENUM_NS(TZnIndicatorStyle)

enum TZnMouseAction { maNone, maColor, maWidth, maBoth };
Q_ENUM_NS(TZnMouseAction)

enum TZnTransparentMode { tmNone, tmBackOnly, tmAll };
Q_ENUM_NS(TZnTransparentMode)

enum TZnMaterialShadowMode { msmDark, msmLight, msmNone };
Q_ENUM_NS(TZnMaterialShadowMode)

enum TZnMaterialMode { mmStretch, mmTile };
Q_ENUM_NS(TZnMaterialMode)

} // namespace Zn
