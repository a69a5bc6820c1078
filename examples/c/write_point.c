/* Writes one output point at a time, and shows that the outputs not named keep their values:
 * switches on the first bit output of the module's first slot with bit outputs, then its last
 * one, writing the whole image each time, and prints the outputs written and the bit inputs
 * the module answers with.
 *
 *   write_point [MODULE-ADDRESS [LOCAL-ADDRESS]]
 *
 * MODULE-ADDRESS is the module's IPv4 address (default 127.0.0.2, the first module of
 * RackSim's sample rack, whose slot 1 reads back the bit outputs of slot 3). LOCAL-ADDRESS is
 * the host's address to send from. Exits with 0, or 1 when a call fails. */
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <zeb_points.h>

static uint32_t report(const char* what, uint32_t result) {
    if (!ZEB_SUCCEEDED(result)) {
        char text[200];
        ZEBResultText(result, text, sizeof text);
        fprintf(stderr, "%s: %s\n", what, text);
    }
    return result;
}

/* Prints the points of one kind of one slot (count is the slot's Count[] of that kind). */
static void print_points(const ZEBImage* image, const ZEBSlotPoints* slot, uint8_t kind,
                         uint8_t count, const char* name) {
    printf("slot %u %s:", slot->Slot, name);
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        ZEBGetPoint(image, slot->Slot, kind, i, &value);
        printf(" %lu", (unsigned long)value);
    }
    printf("\n");
}

/* Switches one bit output on in the image and writes the image: every output goes out, the
 * others as the image holds them. The module's answer (its inputs) lands in the image. */
static uint32_t switch_on(ZEBDevice* module, ZEBImage* image, const ZEBSlotPoints* slot,
                          uint16_t index) {
    uint32_t r = report("set the point", ZEBSetPoint(image, slot->Slot, ZEB_BIT_OUT, index, 1));
    if (r == 0) r = report("write the outputs", ZEBWriteOutputs(module, image));
    if (!ZEB_SUCCEEDED(r)) return r;
    printf("wrote slot %u bit output %u = 1\n", slot->Slot, index);
    print_points(image, slot, ZEB_BIT_OUT, slot->Count[1], "bit outputs");
    return r;
}

static int write_module(ZEBTransport* transport, const struct sockaddr_in* address) {
    static ZEBDevice module; /* records are zeroed before first use */
    static ZEBImage image;   /* one image per module, kept as long as the module is driven */
    memcpy(module.Address.Ip.SocketAddress, address, sizeof *address);
    uint32_t r = ZEBOpenDevice(transport, &module, ZEB_API_VERSION, 100, 3, 0);
    if (report("open the module", r) != 0) return 1;

    r = report("read the layout", ZEBReadImageLayout(&module, &image));
    const ZEBSlotPoints* slot = NULL;
    for (uint16_t s = 0; ZEB_SUCCEEDED(r) && s < image.SlotCount && !slot; ++s) {
        if (image.Slots[s].Count[1] > 0) slot = &image.Slots[s]; /* Count[1]: bit outputs */
    }
    if (ZEB_SUCCEEDED(r) && !slot) {
        fprintf(stderr, "the module has no bit outputs\n");
        r = ZEBERR_BAD_PARAMETER;
    }
    /* The second write names only the last output: the first stays on, since the image still
     * holds it. */
    if (ZEB_SUCCEEDED(r)) r = switch_on(&module, &image, slot, 0);
    if (ZEB_SUCCEEDED(r)) r = switch_on(&module, &image, slot, slot->Count[1] - 1);
    if (ZEB_SUCCEEDED(r)) {
        printf("the module answers with its bit inputs:\n");
        for (uint16_t s = 0; s < image.SlotCount; ++s) {
            const ZEBSlotPoints* in = &image.Slots[s];
            if (in->Count[0] > 0) print_points(&image, in, ZEB_BIT_IN, in->Count[0], "bit inputs");
        }
    }
    ZEBCloseDevice(&module);
    return ZEB_SUCCEEDED(r) ? 0 : 1;
}

int main(int argc, char** argv) {
    struct sockaddr_in module = {0}, local = {0};
    module.sin_family = local.sin_family = AF_INET;
    module.sin_port = htons(ZEB_MODULE_PORT);
    if (inet_pton(AF_INET, argc > 1 ? argv[1] : "127.0.0.2", &module.sin_addr) != 1 ||
        (argc > 2 && inet_pton(AF_INET, argv[2], &local.sin_addr) != 1)) {
        fprintf(stderr, "usage: write_point [MODULE-ADDRESS [LOCAL-ADDRESS]] (IPv4)\n");
        return 2;
    }

    static ZEBTransport transport;
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = ZEB_PROTOCOL_IP;
    ZEBOpen(ZEB_API_VERSION);
    int status = 1;
    if (report("open the transport",
               ZEBOpenTransport(&transport, ZEB_API_VERSION, argc > 2 ? &local : NULL)) == 0) {
        status = write_module(&transport, &module);
        ZEBCloseTransport(&transport);
    }
    ZEBClose();
    return status;
}
