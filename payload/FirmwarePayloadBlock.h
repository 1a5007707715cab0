#pragma once

#include "payload/PayloadLayout.h"

// The program's own payload block, filled after the build by the combining
// tool. Read it only through FirmwarePayload.
extern unsigned char FirmwarePayloadBlock[PayloadBlockSize];
