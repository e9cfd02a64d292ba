#pragma once
// The INI text model lives in the OS layer, which reads settings files with it where the system
// has no private-profile functions of its own.
#include "platform/IniDocument.h"
