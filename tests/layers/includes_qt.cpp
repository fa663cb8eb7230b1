// Must not compile: no Qt include folder is on the core's path.
#include <QtCore/QObject>
