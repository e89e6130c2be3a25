// The programs' texts as they read on Windows: COM ports, playback
// endpoints by name, the logon task's settings file.
#include "platform/system_texts.h"

const char* const kSerialOptionsHelp =
    "  -p, --port N        serial port number: COM1 = 1; default 2\n"
    "  -d, --device NAME   the serial port by name: COM3, or \\\\.\\COM12\n";

const char* const kWaitSyncHelp =
    "      --wait-sync     with --ntp SERVER: start once the server has answered\n";

const char* const kAudioOptionHelp =
    "  -a, --audio DEVICE  send on a sound device (default, or any part of a name\n"
    "                      --audio list shows, e.g. \"Speakers\") instead of a serial\n"
    "                      port; --audio list shows the playback devices\n";

const char* const kFactorSettingsPlace = "%ProgramData%\\dcf77tx\\settings.txt for the logon task";
