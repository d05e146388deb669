// How the installer describes itself in its version resource. qzpack takes
// as its stub only a program that describes itself so: a DLL, another
// program or a built installer handed to it by mistake would otherwise make
// an installer that cannot run. The resource script includes this header
// too, so it holds only what the resource compiler reads.
#ifndef QZ_INSTALLER_IDENTITY_H
#define QZ_INSTALLER_IDENTITY_H

#define INSTALLER_DESCRIPTION_KEY "FileDescription"
#define INSTALLER_DESCRIPTION "Zivora Varelle installer"

#endif
