// The words of the programs' texts that differ between the systems they
// run on: device names, paths and what each system offers. Each system
// has one file that defines them (linux_texts.cpp, windows_texts.cpp),
// chosen by the build, so the help speaks of what exists where it runs.
#pragma once

// --help's lines for --port and --device.
extern const char* const kSerialOptionsHelp;

// --help's lines for --wait-sync.
extern const char* const kWaitSyncHelp;

// --help's lines for --audio.
extern const char* const kAudioOptionHelp;

// Where the factor of a program run unattended is set: FACTOR=X in this.
extern const char* const kFactorSettingsPlace;
