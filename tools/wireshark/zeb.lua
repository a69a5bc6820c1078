-- Wireshark dissector for the zeb module protocol (UDP port 28784).
--
-- Load it with `wireshark -X lua_script:zeb.lua` or copy it into the personal plugins folder.
-- It shows the frame header (sequence, CRC checked against the payload, length, the extended
-- header that names a module), marks frames whose bytes are XOR-ed with a transport key, names
-- every function code's request and reply fields, and reads the controller's service calls:
-- the service in the Info column, its path, handle (with the file it was opened on), counts and
-- records, and the reply's status word, return value and outputs.
--
-- Replies are paired with their requests by the host's address and port and the sequence
-- number as the frames are first read, so one pass (`tshark` without -2) already gives each
-- reply its "Request in" and response time, and marks a request sent again with a new sequence
-- number after the first try had no reply. A request's "Response in" and the flag on a request
-- that nothing answers need the rest of the capture: they show when frames are dissected again,
-- as in Wireshark's panes or with `tshark -2`.

local zeb = Proto("zeb", "zeb module protocol")
local PORT = 28784
local EXTENDED_HEADER = 0x15 -- behind the 9-byte header: the module's hardware address follows
local EXTENDED_FORMAT = 0xB1 -- after a function code: the I/O items are in the extended format

-- The Windows records that service calls carry, by their size in bytes.
local FILE_TIME = 8
local FILE_INFO = 52
local FIND_RECORD = 560
local SECURITY_ATTRIBUTES = 12
local COMM_STATE = 28
local COMM_TIMEOUTS = 20
local COMM_STATUS = 12
local COMM_PROPERTIES = 64

local functions = {
    [0x01] = "Read version info", [0x02] = "Read support info", [0x04] = "Read device definition",
    [0x05] = "Query devices", [0x06] = "Write I/O", [0x07] = "Read I/O",
    [0x08] = "Read base definition", [0x09] = "Query device data", [0x0A] = "Enumerate setup data",
    [0x0B] = "Read setup data", [0x0C] = "Write setup data", [0x0D] = "Delete setup data",
    [0x0E] = "Read Ethernet statistics", [0x0F] = "Write base definition", [0x14] = "Pet device",
    [0x17] = "Read module status", [0x18] = "Init base definition / rescan",
    [0x19] = "CCM request", [0x1A] = "K-sequence request", [0x23] = "Serial pass-through",
    [0x24] = "Write memory", [0x25] = "Read memory", [0x26] = "Enumerate memory",
    [0x27] = "Access memory", [0x28] = "Read shared RAM", [0x29] = "Write shared RAM",
    [0x30] = "Write I/O, no read", [0x34] = "Controller: run program",
    [0x35] = "Controller: service call", [0x60] = "Write program space",
    [0x61] = "Write configuration data", [0x62] = "Read configuration data",
    [0xF9] = "Controller: set OS load", [0xFA] = "Controller: reboot",
}

local services = {
    [0x01] = "CreateFile", [0x02] = "ReadFile", [0x03] = "WriteFile", [0x04] = "GetLastError",
    [0x05] = "CloseHandle", [0x06] = "SetCommState", [0x07] = "GetCommState",
    [0x08] = "SetCommTimeouts", [0x09] = "GetCommTimeouts", [0x0A] = "SetLastError",
    [0x0B] = "GetFileTime", [0x0C] = "SetFileTime", [0x0D] = "FindFirstFile",
    [0x0E] = "FindClose", [0x0F] = "FindNextFile", [0x10] = "DeleteFile",
    [0x11] = "SetEndOfFile", [0x12] = "SetFilePointer", [0x13] = "FlushFileBuffers",
    [0x14] = "GetFileSize", [0x16] = "GetFileInformationByHandle",
    [0x17] = "SetFileAttributes", [0x18] = "GetFileAttributes", [0x19] = "CreateDirectory",
    [0x1A] = "RemoveDirectory", [0x1B] = "PurgeComm", [0x1C] = "ClearCommError",
    [0x1D] = "GetCommProperties",
}

-- Services whose first argument is a path.
local path_first = {
    CreateFile = true, FindFirstFile = true, DeleteFile = true, SetFileAttributes = true,
    GetFileAttributes = true, CreateDirectory = true, RemoveDirectory = true,
}

local serial_ops = {
    [0x01] = "write", [0x02] = "read", [0x03] = "receive queue", [0x04] = "flush receive queue",
    [0x05] = "port setup", [0x06] = "transmit queue", [0x07] = "read setup",
    [0x08] = "write and read", [0x09] = "flush transmit queue",
}

local ccm_markers = {[0x20] = "acknowledged", [0x21] = "refused", [0x22] = "answer"}

-- A re-send points back at the try it repeats (the frame types that Wireshark 4.0 lacks fall back
-- to a plain link).
local earlier_try = frametype.RETRANS_PREV or frametype.NONE
local later_try = frametype.RETRANS_NEXT or frametype.NONE

local f = {
    magic = ProtoField.string("zeb.magic", "Magic"),
    sequence = ProtoField.uint16("zeb.sequence", "Sequence"),
    crc = ProtoField.uint16("zeb.crc", "CRC", base.HEX),
    crc_status = ProtoField.string("zeb.crc.status", "CRC status"),
    length = ProtoField.uint16("zeb.length", "Length"),
    keyed = ProtoField.bool("zeb.keyed", "Key-encrypted (XOR)"),
    ext_marker = ProtoField.uint8("zeb.ext.marker", "Extended header marker", base.HEX),
    ext_node = ProtoField.ether("zeb.ext.node", "Addressed module"),
    direction = ProtoField.string("zeb.direction", "Direction"),
    func = ProtoField.uint8("zeb.function", "Function", base.HEX, functions),
    response_in = ProtoField.framenum("zeb.response_in", "Response in", base.NONE,
                                      frametype.RESPONSE),
    request_in = ProtoField.framenum("zeb.request_in", "Request in", base.NONE,
                                     frametype.REQUEST),
    time = ProtoField.double("zeb.time", "Response time (ms)"),
    ack = ProtoField.bool("zeb.ack", "Acknowledgement"),
    status = ProtoField.uint16("zeb.status", "Status word", base.HEX),
    reserved = ProtoField.bytes("zeb.reserved", "Reserved"),
    data = ProtoField.bytes("zeb.data", "Data"),
    count = ProtoField.uint16("zeb.count", "Count"),
    count8 = ProtoField.uint8("zeb.count8", "Count"),
    setup_type = ProtoField.uint16("zeb.setup.type", "Setup record type", base.HEX),
    data_type = ProtoField.uint16("zeb.query.type", "Query data type", base.HEX),
    hw = ProtoField.ether("zeb.hw", "Hardware address"),
    bcast_only = ProtoField.bool("zeb.broadcast_only", "Broadcast only"),
    kind = ProtoField.uint8("zeb.kind", "Module kind"),
    extended = ProtoField.bool("zeb.extended_format", "Extended item format"),
    option = ProtoField.uint8("zeb.option", "Option"),
    value = ProtoField.uint32("zeb.value", "Value", base.HEX),
    mem_type = ProtoField.uint16("zeb.mem.type", "Memory type"),
    address32 = ProtoField.uint32("zeb.mem.address", "Address", base.HEX),
    direction_rw = ProtoField.uint8("zeb.rw", "Direction", base.DEC, {[0] = "read", [1] = "write"}),
    flagged = ProtoField.bool("zeb.shared.flagged", "Flagged region"),
    base_no = ProtoField.uint16("zeb.shared.base", "Base"),
    slot_no = ProtoField.uint16("zeb.shared.slot", "Slot"),
    address16 = ProtoField.uint16("zeb.shared.address", "Address", base.HEX),
    ccm_marker = ProtoField.uint8("zeb.ccm.marker", "Answer kind", base.HEX, ccm_markers),
    ccm_dir = ProtoField.uint8("zeb.ccm.op", "Operation", base.HEX),
    ccm_type = ProtoField.uint8("zeb.ccm.data_type", "Data type"),
    serial_op = ProtoField.uint8("zeb.serial.op", "Serial operation", base.HEX, serial_ops),
    serial_port = ProtoField.uint8("zeb.serial.port", "Port (from 0)"),
    serial_wait = ProtoField.uint8("zeb.serial.wait", "Wait"),
    complement = ProtoField.uint8("zeb.complement", "Complement", base.HEX),
    service = ProtoField.uint16("zeb.service", "Service", base.HEX, services),
    return_value = ProtoField.uint32("zeb.return_value", "Return value", base.HEX),
    program = ProtoField.string("zeb.program", "Program"),
    arguments = ProtoField.string("zeb.arguments", "Arguments"),
    resend_of = ProtoField.framenum("zeb.resend_of", "Re-send of the request in", base.NONE,
                                    earlier_try),
    resent_in = ProtoField.framenum("zeb.resent_in", "Sent again in", base.NONE, later_try),
    -- A service call's arguments and its reply's outputs.
    path_length = ProtoField.uint16("zeb.xcpu.path_length", "Path length (with its zero byte)"),
    path = ProtoField.string("zeb.xcpu.path", "Path"),
    handle = ProtoField.uint32("zeb.xcpu.handle", "Handle", base.HEX),
    opened_in = ProtoField.framenum("zeb.xcpu.opened_in", "Opened in", base.NONE,
                                    frametype.REQUEST),
    xcount = ProtoField.uint32("zeb.xcpu.count", "Count"),
    transferred = ProtoField.uint32("zeb.xcpu.transferred", "Bytes transferred"),
    xdata = ProtoField.bytes("zeb.xcpu.data", "Data"),
    access = ProtoField.uint32("zeb.xcpu.access", "Desired access", base.HEX),
    share = ProtoField.uint32("zeb.xcpu.share", "Share mode", base.HEX),
    creation = ProtoField.uint32("zeb.xcpu.creation", "Creation disposition", base.DEC,
                                 {[1] = "CREATE_NEW", [2] = "CREATE_ALWAYS", [3] = "OPEN_EXISTING",
                                  [4] = "OPEN_ALWAYS", [5] = "TRUNCATE_EXISTING"}),
    file_flags = ProtoField.uint32("zeb.xcpu.flags", "Flags and attributes", base.HEX),
    attributes = ProtoField.uint32("zeb.xcpu.attributes", "Attributes", base.HEX),
    distance = ProtoField.int32("zeb.xcpu.distance", "Distance"),
    distance_high = ProtoField.int32("zeb.xcpu.distance_high", "Distance, high 32 bits"),
    method = ProtoField.uint32("zeb.xcpu.method", "Move method", base.DEC,
                               {[0] = "FILE_BEGIN", [1] = "FILE_CURRENT", [2] = "FILE_END"}),
    error_number = ProtoField.uint32("zeb.xcpu.error", "Error number"),
    purge = ProtoField.uint32("zeb.xcpu.purge", "Purge flags", base.HEX),
    comm_errors = ProtoField.uint32("zeb.xcpu.comm_errors", "Error flags", base.HEX),
    size_high = ProtoField.uint32("zeb.xcpu.size_high", "Size, high 32 bits"),
    record = ProtoField.bytes("zeb.xcpu.record", "Record"),
    created = ProtoField.uint64("zeb.xcpu.created", "Created"),
    accessed = ProtoField.uint64("zeb.xcpu.accessed", "Last accessed"),
    written = ProtoField.uint64("zeb.xcpu.written", "Last written"),
    file_size = ProtoField.uint64("zeb.xcpu.file_size", "File size"),
    object_id = ProtoField.uint32("zeb.xcpu.object_id", "Object identifier", base.HEX),
    file_name = ProtoField.string("zeb.xcpu.file_name", "File name"),
    volume = ProtoField.uint32("zeb.xcpu.volume", "Volume serial number", base.HEX),
    links = ProtoField.uint32("zeb.xcpu.links", "Links"),
    file_index = ProtoField.uint64("zeb.xcpu.file_index", "File index", base.HEX),
    baud = ProtoField.uint32("zeb.xcpu.baud", "Baud rate"),
    byte_size = ProtoField.uint8("zeb.xcpu.byte_size", "Data bits"),
    parity = ProtoField.uint8("zeb.xcpu.parity", "Parity", base.DEC,
                              {[0] = "none", [1] = "odd", [2] = "even", [3] = "mark",
                               [4] = "space"}),
    stop_bits = ProtoField.uint8("zeb.xcpu.stop_bits", "Stop bits", base.DEC,
                                 {[0] = "1", [1] = "1.5", [2] = "2"}),
    timeout = ProtoField.uint32("zeb.xcpu.timeout", "Time-out (ms)"),
    in_queue = ProtoField.uint32("zeb.xcpu.in_queue", "Bytes received, not yet read"),
    out_queue = ProtoField.uint32("zeb.xcpu.out_queue", "Bytes still to send"),
}
zeb.fields = f

local e_bad_crc = ProtoExpert.new("zeb.crc.bad", "CRC does not match the payload",
                                  expert.group.CHECKSUM, expert.severity.ERROR)
local e_keyed = ProtoExpert.new("zeb.keyed.note", "Frame bytes XOR-ed with a transport key",
                                expert.group.SECURITY, expert.severity.NOTE)
local e_no_request = ProtoExpert.new("zeb.request.missing", "No request with this sequence",
                                     expert.group.SEQUENCE, expert.severity.WARN)
local e_no_reply = ProtoExpert.new("zeb.no_reply", "No reply to this request in the capture",
                                   expert.group.SEQUENCE, expert.severity.WARN)
local e_resent = ProtoExpert.new("zeb.resent", "Sent again: the earlier try had no reply",
                                 expert.group.SEQUENCE, expert.severity.NOTE)
local e_short = ProtoExpert.new("zeb.short", "The frame ends before this field does",
                                expert.group.MALFORMED, expert.severity.WARN)
local e_complement = ProtoExpert.new("zeb.complement.bad",
                                     "Not the one's complement of the function code",
                                     expert.group.MALFORMED, expert.severity.WARN)
local e_refused = ProtoExpert.new("zeb.xcpu.refused", "The module refused the service call",
                                  expert.group.RESPONSE_CODE, expert.severity.NOTE)
local e_failed = ProtoExpert.new("zeb.xcpu.failed",
                                 "The service failed on the module (GetLastError tells why)",
                                 expert.group.RESPONSE_CODE, expert.severity.NOTE)
zeb.experts = {e_bad_crc, e_keyed, e_no_request, e_no_reply, e_resent, e_short, e_complement,
               e_refused, e_failed}

-- CRC-16/XMODEM, as the frames carry it (bit32: Wireshark's Lua is 5.2).
local band, bxor, lshift, rshift = bit32.band, bit32.bxor, bit32.lshift, bit32.rshift
local crc_table = {}
for i = 0, 255 do
    local c = lshift(i, 8)
    for _ = 1, 8 do
        if band(c, 0x8000) ~= 0 then
            c = band(bxor(lshift(c, 1), 0x1021), 0xFFFF)
        else
            c = band(lshift(c, 1), 0xFFFF)
        end
    end
    crc_table[i] = c
end
local function crc16(bytes)
    local c = 0
    for i = 1, #bytes do
        c = band(bxor(crc_table[bxor(rshift(c, 8), bytes:byte(i))], lshift(c, 8)), 0xFFFF)
    end
    return c
end

-- What the frames seen so far tell, kept from the first time each frame is read so that the
-- same frame reads the same way every later time, in any order:
--   conversations: host "address:port" -> sequence -> the request; keyed by the host only, so
--     that the answers to a broadcast query find it;
--   last_sent: host "address:port" -> the host's latest request (the only one whose bytes are
--     kept), to recognise a re-send;
--   frames: frame number -> a request (frame, time, code, service, module, seq, body, replies,
--     answered, resend_of, resent_in, path, opened) or a reply ({request = ...});
--   handles: module address -> handle -> {name, frame} of the call that opened it.
local conversations, last_sent, frames, handles = {}, {}, {}, {}

function zeb.init()
    conversations, last_sent, frames, handles = {}, {}, {}, {}
end

local function host_key(pinfo, request)
    if request then return tostring(pinfo.src) .. ":" .. pinfo.src_port end
    return tostring(pinfo.dst) .. ":" .. pinfo.dst_port
end

-- The request of this frame, booked the first time it is read; also whether this is that time.
-- The library sends a re-send as the same bytes under a new sequence number (the sequence is
-- outside the CRC and the key), to the same module from the same socket, after no reply.
local function request_record(pinfo, tvb, seq, code)
    local record = frames[pinfo.number]
    if record then return record, false end
    local key = host_key(pinfo, true)
    record = {frame = pinfo.number, time = pinfo.abs_ts, code = code, module = tostring(pinfo.dst),
              seq = seq, body = tvb:raw(5), replies = {}}
    frames[pinfo.number] = record
    conversations[key] = conversations[key] or {}
    conversations[key][seq] = record
    local previous = last_sent[key]
    if previous and previous.seq ~= seq and not previous.answered and
            previous.module == record.module and previous.body == record.body then
        record.resend_of = previous.frame
        previous.resent_in = record.frame
    end
    if previous then previous.body = nil end
    last_sent[key] = record
    return record, true
end

-- The reply of this frame with the request it answers (nil when the capture has none), booked
-- the first time; also whether this is that time.
local function reply_record(pinfo, seq)
    local reply = frames[pinfo.number]
    if reply then return reply, false end
    local book = conversations[host_key(pinfo, false)]
    reply = {request = book and book[seq]}
    frames[pinfo.number] = reply
    if reply.request then table.insert(reply.request.replies, pinfo.number) end
    return reply, true
end

-- Links from a request to its replies and tries, and the flag on one that nothing answered.
local function link_request(t, pinfo, record)
    for _, n in ipairs(record.replies) do t:add(f.response_in, n):set_generated() end
    if record.resend_of then
        t:add(f.resend_of, record.resend_of):set_generated()
        t:add_proto_expert_info(e_resent, string.format(
            "Sent again: the same request in frame %d had no reply", record.resend_of))
    end
    if record.resent_in then t:add(f.resent_in, record.resent_in):set_generated() end
    -- Only once the whole capture has been read is "no reply" known.
    if pinfo.visited and #record.replies == 0 then t:add_proto_expert_info(e_no_reply) end
end

-- Field helpers over the payload: each takes the tree, the payload range and an offset, adds
-- the field when the bytes are there, and returns the next offset.
local function u8(t, p, at, field)
    if at + 1 > p:len() then return at end
    t:add(field, p(at, 1))
    return at + 1
end
local function u16(t, p, at, field)
    if at + 2 > p:len() then return at end
    t:add_le(field, p(at, 2))
    return at + 2
end
local function u32(t, p, at, field)
    if at + 4 > p:len() then return at end
    t:add_le(field, p(at, 4))
    return at + 4
end
local function rest(t, p, at, field)
    if at < p:len() then t:add(field or f.data, p(at)) end
    return p:len()
end
local function extended_marker(t, p, at)
    if at < p:len() and p(at, 1):uint() == EXTENDED_FORMAT then
        t:add(f.extended, p(at, 1), true)
        return at + 2
    end
    return at
end
-- The byte after the controller's function codes: their one's complement.
local function complement(t, p)
    if p:len() < 2 then return 1 end
    local item = t:add(f.complement, p(1, 1))
    if p(1, 1):uint() ~= bxor(p(0, 1):uint(), 0xFF) then
        item:add_proto_expert_info(e_complement)
    end
    return 2
end

-- ---- Controller service calls (function 0x35) ------------------------------------------------
--
-- The readers below take (tree, payload, offset, call) and return the next offset. `call` holds
-- what one frame's reading gathers: `first` (the frame is read for the first time), `record`
-- (the request's bookkeeping), `module` (its address), `notes` (parts of the Info column) and
-- `count` (the last count read, for the data that follows it).

local INVALID = 0xFFFFFFFF -- the value of a failed handle, attribute set or file position

local function note(call, text) call.notes[#call.notes + 1] = text end

-- Text up to its first zero byte (a range's string keeps the zero and what follows).
local function until_zero(s)
    local zero = s:find("\0", 1, true)
    return zero and s:sub(1, zero - 1) or s
end

-- The bytes end before the field: flagged once per frame; reading stops there.
local function short(t, p, call)
    if not call.short then
        t:add_proto_expert_info(e_short)
        call.short = true
    end
    return p:len()
end

local function number(field)
    return function(t, p, at, call)
        if at + 4 > p:len() then return short(t, p, call) end
        t:add_le(field, p(at, 4))
        return at + 4
    end
end

local function path(t, p, at, call)
    if at + 2 > p:len() then return short(t, p, call) end
    local n = p(at, 2):le_uint()
    t:add_le(f.path_length, p(at, 2))
    at = at + 2
    local have = math.min(n, p:len() - at)
    local name = have > 0 and until_zero(p(at, have):string()) or ""
    if have > 0 then t:add(f.path, p(at, have), name) end
    call.record.path = name
    note(call, '"' .. name .. '"')
    if have < n then return short(t, p, call) end
    return at + n
end

-- A handle, named by the path of the call whose reply gave it, as the capture has shown so far.
local function handle(t, p, at, call)
    if at + 4 > p:len() then return short(t, p, call) end
    local value = p(at, 4):le_uint()
    local item = t:add_le(f.handle, p(at, 4))
    if call.first then call.record.opened = (handles[call.module] or {})[value] end
    local opened = call.record.opened
    local text = string.format("handle 0x%X", value)
    if opened then
        item:append_text(' ("' .. opened.name .. '")')
        item:add(f.opened_in, opened.frame):set_generated()
        text = text .. ' ("' .. opened.name .. '")'
    end
    note(call, text)
    return at + 4
end

local function counted(field, label)
    return function(t, p, at, call)
        if at + 4 > p:len() then return short(t, p, call) end
        call.count = p(at, 4):le_uint()
        t:add_le(field, p(at, 4))
        note(call, string.format(label, call.count))
        return at + 4
    end
end

-- The bytes that the count before them announces.
local function data(t, p, at, call)
    local want = call.count or 0
    local n = math.min(want, p:len() - at)
    if n > 0 then t:add(f.xdata, p(at, n)) end
    if n < want then return short(t, p, call) end
    return at + n
end

-- FILETIME: 100-ns steps since 1601, shown as a UTC date when it is one.
local function filetime(t, r, off, field)
    if off + FILE_TIME > r:len() then return end
    local item = t:add_le(field, r(off, FILE_TIME))
    local ticks = r(off, FILE_TIME):le_uint64():tonumber()
    local seconds = ticks / 1e7 - 11644473600
    if ticks == 0 then
        item:append_text(" (not set)")
    elseif seconds >= 0 and seconds < 253402300800 then
        item:append_text(" (" .. os.date("!%Y-%m-%d %H:%M:%S UTC", math.floor(seconds)) .. ")")
    end
end

local function member(t, r, off, width, field)
    if off + width <= r:len() then t:add_le(field, r(off, width)) end
end

-- A 64-bit value sent as its high half, then its low half.
local function high_low(t, r, off, field)
    if off + 8 > r:len() then return end
    t:add(field, r(off, 8), UInt64.new(r(off + 4, 4):le_uint(), r(off, 4):le_uint()))
end

-- A fixed-size record; `members` reads its fields from the record's own range.
local function record(label, size, members)
    return function(t, p, at, call)
        local have = math.min(size, p:len() - at)
        if have <= 0 then return short(t, p, call) end
        local r = p(at, have)
        local sub = t:add(f.record, r):set_text(string.format("%s (%d bytes)", label, size))
        if members then members(sub, r, call) end
        if have < size then return short(t, p, call) end
        return at + size
    end
end

local function times(t, r, off)
    filetime(t, r, off, f.created)
    filetime(t, r, off + FILE_TIME, f.accessed)
    filetime(t, r, off + 2 * FILE_TIME, f.written)
end

local find_record = record("Find record", FIND_RECORD, function(t, r, call)
    member(t, r, 0, 4, f.attributes)
    times(t, r, 4)
    high_low(t, r, 28, f.file_size)
    member(t, r, 36, 4, f.object_id)
    if r:len() > 40 then
        local name = until_zero(r(40):le_ustring())
        t:add(f.file_name, r(40), name)
        if name ~= "" then note(call, '"' .. name .. '"') end
    end
end)

local file_info = record("File information", FILE_INFO, function(t, r)
    member(t, r, 0, 4, f.attributes)
    times(t, r, 4)
    member(t, r, 28, 4, f.volume)
    high_low(t, r, 32, f.file_size)
    member(t, r, 40, 4, f.links)
    high_low(t, r, 44, f.file_index)
end)

local three_times = record("File times", 3 * FILE_TIME, function(t, r) times(t, r, 0) end)

local comm_state = record("Line settings (DCB)", COMM_STATE, function(t, r, call)
    member(t, r, 4, 4, f.baud)
    member(t, r, 18, 1, f.byte_size)
    member(t, r, 19, 1, f.parity)
    member(t, r, 20, 1, f.stop_bits)
    if r:len() >= 8 then note(call, r(4, 4):le_uint() .. " baud") end
end)

local comm_timeouts = record("Time-outs", COMM_TIMEOUTS, function(t, r)
    local names = {"Read interval", "Read total, per byte", "Read total, constant",
                   "Write total, per byte", "Write total, constant"}
    for i, name in ipairs(names) do
        local off = 4 * (i - 1)
        if off + 4 <= r:len() then
            t:add_le(f.timeout, r(off, 4)):set_text(
                string.format("%s: %d ms", name, r(off, 4):le_uint()))
        end
    end
end)

local comm_status = record("Port state (COMSTAT)", COMM_STATUS, function(t, r)
    member(t, r, 4, 4, f.in_queue)
    member(t, r, 8, 4, f.out_queue)
end)

-- Each service by name: what its request carries after the service number (behind the path,
-- for those in `path_first`), what its reply carries after the status word and the return
-- value, and what the return value is when it is not a success flag.
local layouts = {
    CreateFile = {args = {number(f.access), number(f.share), number(f.creation),
                          number(f.file_flags)}, returns = "handle"},
    ReadFile = {args = {handle, counted(f.xcount, "count %d")},
                outputs = {counted(f.transferred, "%d bytes"), data}},
    WriteFile = {args = {handle, counted(f.xcount, "count %d"), data},
                 outputs = {counted(f.transferred, "%d bytes")}},
    GetLastError = {args = {}, returns = "last error"},
    CloseHandle = {args = {handle}},
    SetCommState = {args = {handle, comm_state}},
    GetCommState = {args = {handle}, outputs = {comm_state}},
    SetCommTimeouts = {args = {handle, comm_timeouts}},
    GetCommTimeouts = {args = {handle}, outputs = {comm_timeouts}},
    SetLastError = {args = {number(f.error_number)}, returns = "nothing"},
    GetFileTime = {args = {handle}, outputs = {three_times}},
    SetFileTime = {args = {handle, three_times}},
    FindFirstFile = {args = {find_record}, outputs = {find_record}, returns = "find handle"},
    FindClose = {args = {handle}},
    FindNextFile = {args = {handle, find_record}, outputs = {find_record}},
    DeleteFile = {args = {}},
    SetEndOfFile = {args = {handle}},
    SetFilePointer = {args = {handle, number(f.distance), number(f.distance_high),
                              number(f.method)},
                      outputs = {number(f.distance_high)}, returns = "position"},
    FlushFileBuffers = {args = {handle}},
    GetFileSize = {args = {handle}, outputs = {number(f.size_high)}, returns = "size"},
    GetFileInformationByHandle = {args = {handle}, outputs = {file_info}},
    SetFileAttributes = {args = {number(f.attributes)}},
    GetFileAttributes = {args = {}, returns = "attributes"},
    CreateDirectory = {args = {record("Security attributes", SECURITY_ATTRIBUTES)}},
    RemoveDirectory = {args = {}},
    PurgeComm = {args = {handle, number(f.purge)}},
    ClearCommError = {args = {handle}, outputs = {number(f.comm_errors), comm_status}},
    GetCommProperties = {args = {handle},
                         outputs = {record("Port properties (COMMPROP)", COMM_PROPERTIES)}},
}
do -- Every service has a layout, under its own name.
    local named = {}
    for _, name in pairs(services) do
        named[name] = true
        assert(layouts[name], "zeb.lua: no layout for the service " .. name)
    end
    for name in pairs(layouts) do assert(named[name], "zeb.lua: no service " .. name) end
end

-- The return value, with what it means for this service; a text for the Info column, and
-- whether it is a remote failure.
local function return_value(t, p, at, call, kind)
    if at + 4 > p:len() then return short(t, p, call) end
    local v = p(at, 4):le_uint()
    local item = t:add_le(f.return_value, p(at, 4))
    local text, failed
    if kind == "handle" or kind == "find handle" then
        failed = v == INVALID
        text = failed and "invalid " .. kind or string.format("%s 0x%X", kind, v)
        call.returned_handle = not failed and v or nil
    elseif kind == "attributes" then
        failed = v == INVALID
        text = failed and "no attributes" or string.format("attributes 0x%X", v)
    elseif kind == "last error" then
        text = "last error " .. v
    elseif kind == "position" or kind == "size" then
        text = string.format("%s %d (low 32 bits)", kind, v)
    elseif kind == nil then
        failed = v == 0
        text = failed and "failed" or "succeeded"
    end
    if text then item:append_text(" (" .. text .. ")") end
    if failed then item:add_proto_expert_info(e_failed) end
    if text then note(call, text) end
    return at + 4
end

local function service_request(t, p, call)
    local at = u16(t, p, complement(t, p), f.service)
    if p:len() < 4 then
        rest(t, p, at)
        return "Controller service call"
    end
    local service = p(2, 2):le_uint()
    call.record.service = service
    local name = services[service]
    if not name then
        rest(t, p, at)
        return string.format("Controller service 0x%02X", service)
    end
    if path_first[name] then at = path(t, p, at, call) end
    for _, read in ipairs(layouts[name].args) do at = read(t, p, at, call) end
    rest(t, p, at)
    local text = "Controller service " .. name
    if #call.notes > 0 then text = text .. " " .. table.concat(call.notes, ", ") end
    return text
end

local function service_reply(t, p, call)
    local name = services[call.record.service or -1]
    local at = u16(t, p, 0, f.status)
    if not name then
        rest(t, p, u32(t, p, at, f.return_value))
        return nil
    end
    local text = "Controller service " .. name
    if at == 2 then
        local status = p(0, 2):le_uint()
        text = text .. string.format(", status 0x%04X", status)
        if status ~= 0 then
            t:add_proto_expert_info(e_refused)
            -- A refusal may be the status word alone.
            if p:len() == 2 then return text end
        end
    end
    local layout = layouts[name]
    at = return_value(t, p, at, call, layout.returns)
    for _, read in ipairs(layout.outputs or {}) do at = read(t, p, at, call) end
    rest(t, p, at)
    -- From here on the handle names the file (or search) that this call opened.
    if call.first and call.returned_handle and call.record.path then
        handles[call.module] = handles[call.module] or {}
        handles[call.module][call.returned_handle] = {name = call.record.path,
                                                      frame = call.record.frame}
    end
    if #call.notes > 0 then text = text .. ", " .. table.concat(call.notes, ", ") end
    return text
end

-- Request bodies after the function code (at offset 1). Each may return the text that the Info
-- column shows in place of the function's name.
local request_fields = {
    [0x06] = function(t, p) rest(t, p, extended_marker(t, p, 1)) end,
    [0x07] = function(t, p) extended_marker(t, p, 1) end,
    [0x08] = function(t, p) extended_marker(t, p, 1) end,
    [0x09] = function(t, p)
        local at = u8(t, p, 1, f.reserved)
        at = u16(t, p, at, f.data_type)
        at = u16(t, p, at, f.count)
        rest(t, p, at)
    end,
    [0x0B] = function(t, p) u16(t, p, u8(t, p, 1, f.reserved), f.setup_type) end,
    [0x0C] = function(t, p) rest(t, p, u16(t, p, u8(t, p, 1, f.reserved), f.setup_type)) end,
    [0x0D] = function(t, p) u16(t, p, u8(t, p, 1, f.reserved), f.setup_type) end,
    [0x0E] = function(t, p) u8(t, p, u8(t, p, 1, f.reserved), f.option) end,
    [0x0F] = function(t, p) rest(t, p, u16(t, p, u8(t, p, 1, f.reserved), f.count)) end,
    [0x14] = function(t, p) u8(t, p, 1, f.reserved) end,
    [0x17] = function(t, p) u8(t, p, u8(t, p, 1, f.extended), f.option) end,
    [0x18] = function(t, p) u32(t, p, 1, f.value) end,
    [0x19] = function(t, p)
        local at = u8(t, p, 1, f.reserved)
        at = u8(t, p, at, f.reserved)
        at = u8(t, p, at, f.ccm_dir)
        at = u8(t, p, at, f.count8)
        at = u16(t, p, at, f.address16)
        at = u8(t, p, at, f.ccm_type)
        rest(t, p, at)
    end,
    [0x1A] = function(t, p)
        rest(t, p, u8(t, p, u8(t, p, u8(t, p, 1, f.reserved), f.count8), f.reserved))
    end,
    [0x23] = function(t, p)
        if p:len() < 2 then return end
        local op = p(1, 1):uint()
        t:add(f.serial_op, p(1, 1), band(op, 0x7F))
        local at = 2
        if band(op, 0x80) ~= 0 then at = u8(t, p, at, f.serial_port) end
        op = band(op, 0x7F)
        if op == 0x01 or op == 0x08 then
            rest(t, p, u16(t, p, at, f.count))
        elseif op == 0x02 then
            u16(t, p, at, f.count)
        elseif op == 0x05 then
            rest(t, p, u8(t, p, u8(t, p, at, f.serial_wait), f.reserved))
        else
            rest(t, p, at, f.reserved)
        end
    end,
    [0x24] = function(t, p)
        local at = u8(t, p, 1, f.reserved)
        at = u16(t, p, at, f.mem_type)
        at = u16(t, p, at, f.count)
        rest(t, p, u32(t, p, at, f.address32))
    end,
    [0x25] = function(t, p)
        u32(t, p, u16(t, p, u16(t, p, u8(t, p, 1, f.reserved), f.mem_type), f.count), f.address32)
    end,
    [0x27] = function(t, p)
        local at = u8(t, p, 1, f.reserved)
        local items = at + 2 <= p:len() and p(at, 2):le_uint() or 0
        at = u16(t, p, at, f.count)
        for i = 1, items do
            if at + 9 > p:len() then break end
            local write = p(at, 1):uint() == 1
            local n = p(at + 7, 2):le_uint()
            local item = t:add(zeb, p(at, math.min(p:len() - at, 9 + (write and n or 0))),
                               "Item " .. i)
            at = u8(item, p, at, f.direction_rw)
            at = u16(item, p, at, f.mem_type)
            at = u32(item, p, at, f.address32)
            at = u16(item, p, at, f.count)
            if write then
                if at + n > p:len() then break end
                item:add(f.data, p(at, n))
                at = at + n
            end
        end
    end,
    [0x28] = function(t, p)
        local at = u8(t, p, 1, f.flagged)
        at = u16(t, p, u16(t, p, at, f.base_no), f.slot_no)
        u16(t, p, u16(t, p, at, f.address16), f.count)
    end,
    [0x29] = function(t, p)
        local at = u8(t, p, 1, f.flagged)
        at = u16(t, p, u16(t, p, at, f.base_no), f.slot_no)
        rest(t, p, u16(t, p, u16(t, p, at, f.address16), f.count))
    end,
    [0x30] = function(t, p) rest(t, p, extended_marker(t, p, 1)) end,
    -- The name fills its 64 bytes without a zero byte when it is 64 characters long.
    [0x34] = function(t, p)
        complement(t, p)
        if p:len() < 66 then
            rest(t, p, 2)
            return nil
        end
        local program = until_zero(p(2, 64):string())
        t:add(f.program, p(2, 64), program)
        if p:len() > 66 then t:add(f.arguments, p(66), until_zero(p(66):string())) end
        return 'Controller: run program "' .. program .. '"'
    end,
    [0x35] = service_request,
    [0x60] = function(t, p) rest(t, p, u16(t, p, u8(t, p, 1, f.reserved), f.reserved)) end,
    [0x61] = function(t, p) rest(t, p, extended_marker(t, p, 1)) end,
    [0x62] = function(t, p) extended_marker(t, p, 1) end,
    [0xF9] = function(t, p) u32(t, p, complement(t, p), f.value) end,
    [0xFA] = function(t, p) complement(t, p) end,
}

-- Reply bodies, by the function code of the request they answer; each may return the text that
-- the Info column shows in place of the function's name.
local function status_then_data(t, p) rest(t, p, u16(t, p, 0, f.status)) end
local reply_fields = {
    [0x01] = function(t, p) rest(t, p, 0) end,
    [0x02] = function(t, p) rest(t, p, 0) end,
    [0x04] = function(t, p)
        if p:len() > 2 then t:add(f.kind, p(2, 1)) end
        rest(t, p, 0)
    end,
    -- The base definition and the Ethernet statistics are the whole body: no status word.
    [0x08] = function(t, p) rest(t, p, 0) end,
    [0x18] = function(t, p) rest(t, p, 0) end,
    [0x0E] = function(t, p) rest(t, p, 0) end,
    [0x0A] = function(t, p)
        local at = u16(t, p, u16(t, p, 0, f.status), f.count)
        while at + 2 <= p:len() do at = u16(t, p, at, f.setup_type) end
    end,
    [0x19] = function(t, p)
        local at = u8(t, p, 0, f.ccm_marker)
        at = u8(t, p, at, f.func)
        rest(t, p, u16(t, p, at, f.status))
    end,
    [0x26] = function(t, p)
        local at = u16(t, p, u16(t, p, 0, f.status), f.count)
        while at + 22 <= p:len() do
            local area = t:add(zeb, p(at, 22), "Memory area")
            area:add_le(f.mem_type, p(at, 2))
            area:add_le(f.address32, p(at + 2, 4))
            area:add(f.data, p(at + 6, 16))
            at = at + 22
        end
    end,
    [0x35] = service_reply,
    [0x34] = status_then_data,
}
reply_fields[0x1A] = reply_fields[0x19]

local function discovery_answer(t, p)
    if p:len() >= 2 and p(0, 1):uint() == 0x55 and p(1, 1):uint() == 0xAA then
        t:add(f.reserved, p(0, 2)):set_text("Answer mark: 55 AA")
        if p:len() >= 8 then t:add(f.hw, p(2, 6)) end
        if p:len() >= 9 then t:add(f.bcast_only, p(8, 1)) end
        rest(t, p, 9)
        return true
    end
    return false
end

local function function_name(code)
    return functions[code] or string.format("function 0x%02X", code)
end

-- The CRC covers everything behind the 9-byte header. A field of 0 is what a sender without
-- CRCs writes, but also the true CRC of some payloads: only a mismatch makes it "not computed".
local function check_crc(t, tvb)
    local item = t:add_le(f.crc, tvb(5, 2))
    if tvb:len() < tvb:reported_len() then
        t:add(f.crc_status, "unchecked: the capture holds part of the frame"):set_generated()
        return
    end
    local crc = tvb(5, 2):le_uint()
    local computed = crc16(tvb:len() > 9 and tvb:raw(9) or "")
    if computed == crc then
        t:add(f.crc_status, "good"):set_generated()
        item:append_text(" (correct)")
    elseif crc == 0 then
        t:add(f.crc_status, "not computed"):set_generated()
        item:append_text(" (not computed)")
    else
        t:add(f.crc_status, "bad"):set_generated()
        item:append_text(string.format(" (incorrect, should be 0x%04X)", computed))
        item:add_proto_expert_info(e_bad_crc)
    end
end

local function dissect_request(t, tvb, pinfo, seq, p)
    -- A frame quoted inside an ICMP error is shown but not booked as traffic.
    local quoted = pinfo.in_error_pkt
    local code = p and p(0, 1):uint()
    local record, first = {}, false
    if not quoted then record, first = request_record(pinfo, tvb, seq, code) end
    local text
    if p then
        t:add(f.func, p(0, 1))
        local call = {first = first, record = record, module = tostring(pinfo.dst), notes = {}}
        local body = request_fields[code]
        if body then
            text = body(t, p, call)
        else
            rest(t, p, 1)
        end
        text = text or function_name(code)
    end
    text = text or "(empty)"
    if not quoted then link_request(t, pinfo, record) end
    pinfo.cols.info = string.format("Request seq=%d: %s", seq, text)
end

local function dissect_reply(t, tvb, pinfo, seq, p)
    local quoted = pinfo.in_error_pkt
    local reply, first = {}, false
    if not quoted then reply, first = reply_record(pinfo, seq) end
    local request = reply.request
    local code = request and request.code
    local text = "Reply seq=" .. seq
    if request then
        t:add(f.request_in, request.frame):set_generated()
        t:add(f.time, (pinfo.abs_ts - request.time) * 1000):set_generated()
        text = text .. ": " .. (code and function_name(code) or "to a key-encrypted request")
    elseif not quoted then
        t:add_proto_expert_info(e_no_request)
    end
    -- An acknowledgement echoes the function code with a zero byte; any other reply answers.
    local ack = code and p and p:len() == 2 and p(0, 1):uint() == code and p(1, 1):uint() == 0
    if first and request and not ack then request.answered = true end
    if not p then
        pinfo.cols.info = text .. " (empty)"
        return
    end
    if ack then
        t:add(f.ack, p(), true)
        pinfo.cols.info = text .. " (acknowledgement)"
        return
    end
    local marked = p:len() >= 2 and p(0, 1):uint() == 0x55
    if (code == 0x05 or code == 0x09 or (code == nil and marked)) and discovery_answer(t, p) then
        pinfo.cols.info = text .. " (module " ..
                              tostring(p:len() >= 8 and p(2, 6):ether() or "?") .. ")"
        return
    end
    local call = {first = first, record = request or {}, module = tostring(pinfo.src), notes = {}}
    local body = (code and reply_fields[code]) or status_then_data
    local own = body(t, p, call)
    if own then text = "Reply seq=" .. seq .. ": " .. own end
    pinfo.cols.info = text
end

function zeb.dissector(tvb, pinfo, tree)
    if tvb:len() < 9 then return 0 end
    local magic = tvb(0, 3):string()
    if magic ~= "ZQK" and magic ~= "ZQQ" then return 0 end
    pinfo.cols.protocol = "ZEB"
    local is_request = pinfo.dst_port == PORT
    local t = tree:add(zeb, tvb(), "zeb module protocol")
    t:add(f.magic, tvb(0, 3))
    local seq = tvb(3, 2):le_uint()
    t:add_le(f.sequence, tvb(3, 2))
    -- A keyed request's CRC, length and payload are XOR-ed: its length field does not match.
    -- It is still booked, so that its replies, re-sends and silence show.
    if is_request and tvb(7, 2):le_uint() ~= tvb:reported_len() - 9 then
        t:add_le(f.crc, tvb(5, 2))
        t:add_le(f.length, tvb(7, 2))
        t:add(f.direction, "request")
        t:add(f.keyed, tvb(5), true)
        t:add_proto_expert_info(e_keyed)
        if not pinfo.in_error_pkt then
            link_request(t, pinfo, (request_record(pinfo, tvb, seq, nil)))
        end
        pinfo.cols.info = string.format("Request seq=%d (key-encrypted)", seq)
        return tvb:len()
    end
    check_crc(t, tvb)
    t:add_le(f.length, tvb(7, 2))
    t:add(f.direction, is_request and "request" or "reply")

    local payload_at = 9
    if is_request and tvb:len() >= 16 and tvb(9, 1):uint() == EXTENDED_HEADER then
        t:add(f.ext_marker, tvb(9, 1))
        t:add(f.ext_node, tvb(10, 6))
        payload_at = 16
    end
    local p = payload_at < tvb:len() and tvb(payload_at) or nil
    if is_request then
        dissect_request(t, tvb, pinfo, seq, p)
    else
        dissect_reply(t, tvb, pinfo, seq, p)
    end
    return tvb:len()
end

DissectorTable.get("udp.port"):add(PORT, zeb)
