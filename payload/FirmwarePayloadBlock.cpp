#include "payload/FirmwarePayloadBlock.h"

// The block sits alone in this translation unit, non-const, so the compiler
// can never fold its unfilled content into the code that reads it: the
// combining tool rewrites these bytes in the built program file.
unsigned char FirmwarePayloadBlock[PayloadBlockSize] = "INSERT_FIRMWARE";
