// The version record of DbRelayConfig, read back from the file by the about box. It lives in a
// section of its own and is kept even though no code refers to it.

#include "config_editor/version_record.h"

#ifndef DBRELAY_FILE_VERSION
#error "DBRELAY_FILE_VERSION must be defined by the build"
#endif

#define DBRELAY_VERSION_ENTRY(name, value) name "\0" value "\0"

__attribute__((used, retain, section(".dbrelay_version"), aligned(1)))
const char kDbRelayConfigVersionRecord[] =
    "DBRELAY-VERSIONINFO\0"
    DBRELAY_VERSION_ENTRY("\\VarFileInfo\\Translation", "040904E4")
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\FileVersion", DBRELAY_FILE_VERSION)
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\ProductVersion", DBRELAY_FILE_VERSION)
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\InternalName", "DbRelayConfig")
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\OriginalFilename", "DbRelayConfig")
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\ProductName", "DB Relay Setup")
    DBRELAY_VERSION_ENTRY("\\StringFileInfo\\040904E4\\FileDescription", "DB Relay settings editor");
