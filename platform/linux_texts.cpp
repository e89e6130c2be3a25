// The programs' texts as they read on Linux.
#include "platform/system_texts.h"

const char* const kSerialOptionsHelp =
    "  -p, --port N        serial port number, COM1 = 1 (Linux: /dev/ttyS<N-1>);\n"
    "                      default 2\n"
    "  -d, --device PATH   the serial device by path: /dev/ttyUSB0,\n"
    "                      /dev/serial/by-id/..., on Windows COM12 or \\\\.\\COM12\n";

const char* const kWaitSyncHelp =
    "      --wait-sync     start once the system clock is synchronised (with --ntp:\n"
    "                      once an NTP server has answered)\n";

const char* const kAudioOptionHelp =
    "  -a, --audio DEVICE  send on a sound device (ALSA name: default, hw:1,0,\n"
    "                      ...) instead of a serial port; --audio list shows them\n";

const char* const kFactorSettingsPlace = "/etc/default/dcf77tx for the service";
