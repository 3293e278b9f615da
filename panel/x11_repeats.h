// On an X server, a held key's repeats as presses alone.
#pragma once

namespace kvx {

// Asks the X server that this program runs on, if any, to repeat a held key
// as presses alone, with no release before the key comes up (XKB's
// detectable auto-repeat). Says whether the server does so from now on.
bool askForPressOnlyRepeats();

} // namespace kvx
