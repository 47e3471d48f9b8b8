#include "library_state.h"

#include "driver_session.h"

namespace orvel {

LibraryState &state()
{
    // A plain static with a trivial destructor: unloading the library must not
    // close the session (the device and an installed service stay, as with a
    // process that never called ORVL_CloseInterface).
    static LibraryState s;
    return s;
}

void resetStateForTests()
{
    LibraryState &s = state();
    if (s.session) {
        s.session->forget();
        delete s.session;
    }
    s = LibraryState();
}

} // namespace orvel
