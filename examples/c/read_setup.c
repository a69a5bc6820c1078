/* Finds a module by its name and reads one of its setup records.
 *
 *   read_setup [NAME [TYPE [LOCAL-ADDRESS]]]
 *
 * NAME is the module's name (default "packer", the second module of RackSim's sample rack),
 * TYPE the record's type (default 0x0030), LOCAL-ADDRESS the host's IPv4 address to send the
 * query from. Prints the record in hex and, where it is text, as text. Exits with 0, with 1
 * when a call fails (a module that holds no record of that type refuses the read), and with 3
 * when no module answers. */
#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zeb.h>

#define SETUP_TYPE_NAME 0x16 /* a module's name: text, asked for in a 256-byte field */
#define NAME_FIELD 256
#define SETUP_RECORD_MAX 589 /* the longest record a reply carries */

static uint32_t report(const char* what, uint32_t result) {
    if (!ZEB_SUCCEEDED(result)) {
        char text[200];
        ZEBResultText(result, text, sizeof text);
        fprintf(stderr, "%s: %s\n", what, text);
    }
    return result;
}

static void print_record(const uint8_t* record, uint16_t size) {
    int text = size > 0;
    printf("%u bytes:", size);
    for (uint16_t i = 0; i < size; ++i) {
        printf(" %02X", record[i]);
        text = text && (isprint(record[i]) || (record[i] == 0 && i == size - 1));
    }
    printf("\n");
    if (text) printf("text: %.*s\n", (int)size, (const char*)record);
}

static int read_record(ZEBTransport* transport, const char* name, uint16_t type) {
    static ZEBDevice found[4]; /* records are zeroed before first use */
    char item[NAME_FIELD] = {0};
    strncpy(item, name, sizeof item - 1);
    uint16_t count = 4;
    uint32_t r = ZEBQueryDeviceData(transport, found, &count, ZEB_API_VERSION, SETUP_TYPE_NAME,
                                    item, sizeof item);
    if (r != 0 && r != ZEBERR_BUFFER_TOO_SMALL) {
        report("discovery", r);
        return 1;
    }
    if (count == 0) {
        fprintf(stderr, "no module answers to the name '%s'\n", name);
        return 3;
    }

    ZEBDevice* module = &found[0];
    r = ZEBOpenDevice(transport, module, ZEB_API_VERSION, 100, 3, module->Address.Ip.BroadcastOnly);
    if (report("open the module", r) != 0) return 1;
    /* Every byte is set before the call: a buffer handed to the library is never left
     * uninitialised, whatever the call reads of it. */
    uint8_t record[SETUP_RECORD_MAX] = {0};
    uint16_t size = sizeof record; /* in: room; out: bytes delivered */
    r = report("read the setup record", ZEBReadSetupData(module, type, record, &size));
    if (ZEB_SUCCEEDED(r)) {
        printf("module '%s', setup record 0x%04X: ", name, type);
        print_record(record, size);
    }
    ZEBCloseDevice(module);
    return ZEB_SUCCEEDED(r) ? 0 : 1;
}

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "packer";
    const uint16_t type = argc > 2 ? (uint16_t)strtoul(argv[2], NULL, 0) : 0x0030;
    struct sockaddr_in local = {0}; /* the library takes this layout as it stands */
    local.sin_family = AF_INET;
    if (argc > 3 && inet_pton(AF_INET, argv[3], &local.sin_addr) != 1) {
        fprintf(stderr, "%s: not an IPv4 address\n", argv[3]);
        return 2;
    }

    static ZEBTransport transport;
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = ZEB_PROTOCOL_IP;
    ZEBOpen(ZEB_API_VERSION);
    int status = 1;
    if (report("open the transport",
               ZEBOpenTransport(&transport, ZEB_API_VERSION, argc > 3 ? &local : NULL)) == 0) {
        status = read_record(&transport, name, type);
        ZEBCloseTransport(&transport);
    }
    ZEBClose();
    return status;
}
