// Prints what the program's own payload block holds, as the flash operations
// read it. Combining this program and running the copy shows that the code
// reads the bytes the combining tool wrote, not a value fixed at build time.
#include <cstdio>

#include "payload/FirmwarePayload.h"

int main() {
    const FirmwarePayload payload = FirmwarePayload::Program();
    std::printf("placeholder: %s\n", payload.IsPlaceholder() ? "yes" : "no");
    std::printf("stored checksum: %04X\n", static_cast<unsigned>(payload.StoredChecksum()));
    std::printf("image checksum: %04X\n",
                static_cast<unsigned>(ImageChecksum(payload.Image(), ImageSize)));
    std::printf("model: %u\n", static_cast<unsigned>(payload.ModelId()));
    return 0;
}
