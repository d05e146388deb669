#include "app/installer_state.h"

InstallerStateRecord InstallerState;
