-- Wireshark dissector for the zeb module protocol (UDP port 28784).
--
-- Load it with `wireshark -X lua_script:zeb.lua` or copy it into the personal plugins folder.
-- It shows the frame header (sequence, CRC checked against the payload, length, the extended
-- header that names a module), marks frames whose bytes are XOR-ed with a transport key, names
-- every function code's request and reply fields, and pairs each reply with its request by
-- sequence number, with the response time.

local zeb = Proto("zeb", "zeb module protocol")
local PORT = 28784
local EXTENDED_HEADER = 0x15 -- behind the 9-byte header: the module's hardware address follows
local EXTENDED_FORMAT = 0xB1 -- after a function code: the I/O items are in the extended format

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
    program = ProtoField.stringz("zeb.program", "Program"),
    arguments = ProtoField.stringz("zeb.arguments", "Arguments"),
}
zeb.fields = f

local e_bad_crc = ProtoExpert.new("zeb.crc.bad", "CRC does not match the payload",
                                  expert.group.CHECKSUM, expert.severity.ERROR)
local e_keyed = ProtoExpert.new("zeb.keyed.note", "Frame bytes XOR-ed with a transport key",
                                expert.group.SECURITY, expert.severity.NOTE)
local e_no_request = ProtoExpert.new("zeb.request.missing", "No request with this sequence",
                                     expert.group.SEQUENCE, expert.severity.WARN)
zeb.experts = {e_bad_crc, e_keyed, e_no_request}

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
local function crc16(tvb, from, to)
    local c = 0
    for i = from, to - 1 do
        c = band(bxor(crc_table[band(bxor(rshift(c, 8), tvb(i, 1):uint()), 0xFF)], lshift(c, 8)),
                 0xFFFF)
    end
    return c
end

-- Requests by the host's address and port, then by sequence: frame number, time and function
-- code, and the replies seen. Keyed by the host only, so that the answers to a broadcast query
-- find it.
local requests = {}
local function conversation_key(pinfo, request)
    if request then return tostring(pinfo.src) .. ":" .. pinfo.src_port end
    return tostring(pinfo.dst) .. ":" .. pinfo.dst_port
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
local function path(t, p, at, name)
    if at + 2 > p:len() then return at end
    local n = p(at, 2):le_uint()
    t:add_le(f.count, p(at, 2)):append_text(" (" .. (name or "path") .. " length + 1)")
    if at + 2 + n > p:len() then return p:len() end
    t:add(f.arguments, p(at + 2, n)):set_text((name or "Path") .. ": " .. p(at + 2, n):stringz())
    return at + 2 + n
end

-- Request bodies after the function code (at offset 1).
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
    [0x34] = function(t, p)
        u8(t, p, 1, f.complement)
        if p:len() >= 66 then t:add(f.program, p(2, 64)) end
        if p:len() > 66 then t:add(f.arguments, p(66)) end
    end,
    [0x35] = function(t, p)
        local at = u16(t, p, u8(t, p, 1, f.complement), f.service)
        local service = p:len() >= 4 and p(2, 2):le_uint() or 0
        if path_first[services[service]] then at = path(t, p, at) end
        rest(t, p, at)
    end,
    [0x60] = function(t, p) rest(t, p, u16(t, p, u8(t, p, 1, f.reserved), f.reserved)) end,
    [0x61] = function(t, p) rest(t, p, extended_marker(t, p, 1)) end,
    [0x62] = function(t, p) extended_marker(t, p, 1) end,
    [0xF9] = function(t, p) u32(t, p, u8(t, p, 1, f.complement), f.value) end,
    [0xFA] = function(t, p) u8(t, p, 1, f.complement) end,
}

-- Reply bodies, by the function code of the request they answer.
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
    [0x35] = function(t, p) rest(t, p, u32(t, p, u16(t, p, 0, f.status), f.return_value)) end,
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
    local crc_item = t:add_le(f.crc, tvb(5, 2))
    local length = tvb(7, 2):le_uint()
    t:add_le(f.length, tvb(7, 2))
    t:add(f.direction, is_request and "request" or "reply")

    -- A keyed request's CRC, length and payload are XOR-ed: its length field does not match.
    if is_request and length ~= tvb:len() - 9 then
        t:add(f.keyed, tvb(5), true)
        t:add_proto_expert_info(e_keyed)
        pinfo.cols.info = string.format("Request seq=%d (key-encrypted)", seq)
        return tvb:len()
    end
    local crc = tvb(5, 2):le_uint()
    if crc == 0 then
        t:add(f.crc_status, "not computed (0)")
    elseif crc16(tvb, 9, tvb:len()) == crc then
        t:add(f.crc_status, "good")
    else
        t:add(f.crc_status, "bad")
        crc_item:add_proto_expert_info(e_bad_crc)
    end

    local payload_at = 9
    if is_request and tvb:len() >= 16 and tvb(9, 1):uint() == EXTENDED_HEADER then
        t:add(f.ext_marker, tvb(9, 1))
        t:add(f.ext_node, tvb(10, 6))
        payload_at = 16
    end
    if payload_at >= tvb:len() then
        pinfo.cols.info = string.format("%s seq=%d (empty)", is_request and "Request" or "Reply",
                                        seq)
        return tvb:len()
    end
    local p = tvb(payload_at)
    local key = conversation_key(pinfo, is_request)
    requests[key] = requests[key] or {}
    local book = requests[key]

    if is_request then
        local code = p(0, 1):uint()
        t:add(f.func, p(0, 1))
        local entry = book[seq]
        if not pinfo.visited and (entry == nil or entry.frame ~= pinfo.number) then
            entry = {frame = pinfo.number, time = pinfo.abs_ts, code = code, replies = {}}
            book[seq] = entry
        end
        if entry and entry.replies[1] then t:add(f.response_in, entry.replies[1]) end
        local body = request_fields[code]
        if body then body(t, p) else rest(t, p, 1) end
        local name = functions[code] or string.format("function 0x%02X", code)
        pinfo.cols.info = string.format("Request seq=%d: %s", seq, name)
        return tvb:len()
    end

    local entry = book[seq]
    if entry and not pinfo.visited then
        local known = false
        for _, n in ipairs(entry.replies) do known = known or n == pinfo.number end
        if not known then table.insert(entry.replies, pinfo.number) end
    end
    local code = entry and entry.code
    local text = "Reply seq=" .. seq
    if entry then
        t:add(f.request_in, entry.frame)
        t:add(f.time, (pinfo.abs_ts - entry.time) * 1000)
        text = text .. ": " .. (functions[code] or string.format("function 0x%02X", code))
    else
        t:add_proto_expert_info(e_no_request)
    end
    if code == 0x05 or code == 0x09 or (code == nil and p:len() >= 2 and p(0, 1):uint() == 0x55) then
        if discovery_answer(t, p) then
            pinfo.cols.info = text .. " (module " .. tostring(p:len() >= 8 and p(2, 6):ether() or "?") .. ")"
            return tvb:len()
        end
    end
    -- An acknowledgement echoes the function code with a zero byte.
    if code and p:len() == 2 and p(0, 1):uint() == code and p(1, 1):uint() == 0 then
        t:add(f.ack, p(), true)
        pinfo.cols.info = text .. " (acknowledgement)"
        return tvb:len()
    end
    local body = (code and reply_fields[code]) or status_then_data
    body(t, p)
    pinfo.cols.info = text
    return tvb:len()
end

function zeb.init()
    requests = {}
end

DissectorTable.get("udp.port"):add(PORT, zeb)
