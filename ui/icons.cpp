#include "ui/icons.h"

namespace brimlow {

QIcon Icon(AppIcon which) {
    switch (which) {
    case AppIcon::Subscriber:
        return QIcon(":/icons/subscriber.svg");
    case AppIcon::Group:
        return QIcon(":/icons/group.svg");
    case AppIcon::TrackingNew:
        return QIcon(":/icons/tracking_new.svg");
    case AppIcon::TrackingRecent:
        return QIcon(":/icons/tracking_recent.svg");
    case AppIcon::TrackingOld:
        return QIcon(":/icons/tracking_old.svg");
    case AppIcon::Provider:
        return QIcon(":/icons/provider.svg");
    case AppIcon::Product:
        return QIcon(":/icons/brimlow.svg");
    }
    return {};
}

} // namespace brimlow
