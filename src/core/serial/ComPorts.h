#pragma once
// Port names: the program and its settings speak of "Com n"; this system's device for it is found
// here (see DESIGN: the serial line).

#include <QString>

namespace korvel {

// The device that "Com n" names on this system.
QString ResolveComPort(int n);

} // namespace korvel
