/* Finds a module by its number and prints its inputs as points: one line per slot and kind,
 * the values by index.
 *
 *   read_inputs [NUMBER [LOCAL-ADDRESS]]
 *
 * NUMBER is the module's number (default 1). LOCAL-ADDRESS is the IPv4 address to send the
 * query from: the host's address on the plant network, or 127.0.0.1 for RackSim on loopback;
 * without it the query leaves by the system's choice. Exits with 0, with 1 when a call fails,
 * and with 3 when no module answers. */
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zeb_points.h>

#define SETUP_TYPE_NUMBER 0x20 /* a module's number: 32 bits, little-endian */

static uint32_t report(const char* what, uint32_t result) {
    if (!ZEB_SUCCEEDED(result)) {
        char text[200];
        ZEBResultText(result, text, sizeof text);
        fprintf(stderr, "%s: %s\n", what, text);
    }
    return result;
}

/* Prints every input point of the image: the bit, word and 32-bit inputs of each slot. */
static void print_inputs(const ZEBImage* image) {
    static const uint8_t kinds[] = {ZEB_BIT_IN, ZEB_WORD_IN, ZEB_DWORD_IN};
    static const char* const names[] = {"bit", "word", "32-bit"};
    for (uint16_t s = 0; s < image->SlotCount; ++s) {
        const ZEBSlotPoints* slot = &image->Slots[s];
        for (int k = 0; k < 3; ++k) {
            const uint8_t count = slot->Count[2 * k]; /* inputs count at 0, 2 and 4 */
            if (count == 0) continue;
            printf("slot %u %s inputs:", slot->Slot, names[k]);
            for (uint16_t i = 0; i < count; ++i) {
                uint32_t value = 0;
                ZEBGetPoint(image, slot->Slot, kinds[k], i, &value);
                printf(" %lu", (unsigned long)value);
            }
            printf("\n");
        }
    }
}

/* Finds the module numbered `number`, opens it and prints its inputs. */
static int read_module(ZEBTransport* transport, uint32_t number) {
    static ZEBDevice found[4]; /* records are zeroed before first use */
    static ZEBImage image;     /* about 8 KB: kept off the stack */
    const uint8_t item[4] = {(uint8_t)number, (uint8_t)(number >> 8), (uint8_t)(number >> 16),
                             (uint8_t)(number >> 24)};
    uint16_t count = 4; /* in: room in the list; out: how many modules answered */
    uint32_t r = ZEBQueryDeviceData(transport, found, &count, ZEB_API_VERSION, SETUP_TYPE_NUMBER,
                                    item, sizeof item);
    if (r != 0 && r != ZEBERR_BUFFER_TOO_SMALL) {
        report("discovery", r);
        return 1;
    }
    if (count == 0) {
        fprintf(stderr, "no module answers to number %lu\n", (unsigned long)number);
        return 3;
    }

    ZEBDevice* module = &found[0];
    r = ZEBOpenDevice(transport, module, ZEB_API_VERSION, 100 /* ms a reply may take */,
                      3 /* re-sends */, module->Address.Ip.BroadcastOnly);
    if (report("open the module", r) != 0) return 1;
    struct sockaddr_in at; /* discovery wrote the module's socket address */
    memcpy(&at, module->Address.Ip.SocketAddress, sizeof at);
    printf("module %lu at %s\n", (unsigned long)number, inet_ntoa(at.sin_addr));

    /* Lay the image out from the module's base, then read the inputs into it. */
    r = report("read the layout", ZEBReadImageLayout(module, &image));
    if (ZEB_SUCCEEDED(r)) r = report("read the inputs", ZEBReadInputs(module, &image));
    if (ZEB_SUCCEEDED(r)) print_inputs(&image);
    ZEBCloseDevice(module);
    return ZEB_SUCCEEDED(r) ? 0 : 1;
}

int main(int argc, char** argv) {
    const uint32_t number = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 0) : 1;
    struct sockaddr_in local = {0}; /* the library takes this layout as it stands */
    local.sin_family = AF_INET;
    if (argc > 2 && inet_pton(AF_INET, argv[2], &local.sin_addr) != 1) {
        fprintf(stderr, "%s: not an IPv4 address\n", argv[2]);
        return 2;
    }

    static ZEBTransport transport;
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = ZEB_PROTOCOL_IP;
    ZEBOpen(ZEB_API_VERSION);
    int status = 1;
    if (report("open the transport",
               ZEBOpenTransport(&transport, ZEB_API_VERSION, argc > 2 ? &local : NULL)) == 0) {
        status = read_module(&transport, number);
        ZEBCloseTransport(&transport);
    }
    ZEBClose();
    return status;
}
