#pragma once
// The console's icons, drawn as vectors so that they stay sharp at 16 x 16 and on high-DPI screens.
#include <QIcon>

namespace brimlow {

enum class AppIcon { Subscriber, Group, TrackingNew, TrackingRecent, TrackingOld, Provider, Product };

QIcon Icon(AppIcon which);

} // namespace brimlow
