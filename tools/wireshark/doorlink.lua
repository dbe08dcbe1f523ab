-- Wireshark dissector for the door controller protocol (UDP port 9000).
--
-- Names every datagram between a host and a controller: each command and its
-- reply, discovery, network settings, MAC changes and queries, card list
-- announcements, records and read-back, record retrieval blocks and their
-- trailers, resend requests and the end marker, transfer blocks, framed
-- commands, and the error reports and photos that a monitored controller
-- pushes to the host's monitoring port.
--
--   wireshark -X lua_script:tools/wireshark/doorlink.lua capture.pcap
--   tshark -X lua_script:tools/wireshark/doorlink.lua -r capture.pcap -Y doorlink
--
-- or copy the file into the personal Lua plugins directory
-- (~/.local/lib/wireshark/plugins/). Filter fields begin with "doorlink.":
-- doorlink.message, doorlink.mac, doorlink.door, doorlink.index, doorlink.seq,
-- doorlink.card, doorlink.clock ... (Analyze > Display Filter Expression).
--
-- Replies that carry nothing of their own (the acknowledgement pattern, the
-- MAC query answer, raw door state replies, the retrieval's short reply) are
-- named after the last request seen from the same host socket; pushes are
-- recognised on the ports that a monitoring or return-address request named.

local doorlink = Proto("doorlink", "Door controller protocol")

local CONTROLLER_PORT = 9000

local weekdays = {
    [0] = "Sunday", [1] = "Monday", [2] = "Tuesday", [3] = "Wednesday",
    [4] = "Thursday", [5] = "Friday", [6] = "Saturday",
}

local F = {
    message = ProtoField.string("doorlink.message", "Message"),
    direction = ProtoField.string("doorlink.direction", "Direction"),
    command = ProtoField.bytes("doorlink.command", "Command code"),
    subcode = ProtoField.uint8("doorlink.subcode", "Sub-code", base.HEX),
    selector = ProtoField.uint8("doorlink.selector", "Selector", base.DEC),
    mac = ProtoField.ether("doorlink.mac", "Controller MAC"),
    new_mac = ProtoField.ether("doorlink.new_mac", "New MAC"),
    ack = ProtoField.bytes("doorlink.ack", "Acknowledgement pattern"),
    clock = ProtoField.string("doorlink.clock", "Clock"),
    weekday = ProtoField.uint8("doorlink.weekday", "Day of the week", base.DEC, weekdays),
    door = ProtoField.uint8("doorlink.door", "Door", base.DEC),
    door_pattern = ProtoField.bytes("doorlink.door_pattern", "Door pattern"),
    extra = ProtoField.uint8("doorlink.extra", "Extra byte", base.DEC),
    state = ProtoField.uint8("doorlink.state", "Door state", base.DEC),
    state_reply = ProtoField.bytes("doorlink.state_reply", "State reply bytes"),
    rec = ProtoField.uint16("doorlink.rec", "Record value", base.DEC),
    dir = ProtoField.uint16("doorlink.dir", "Direction value", base.DEC),
    lock_times = ProtoField.string("doorlink.lock_times", "Lock times"),
    button_times = ProtoField.string("doorlink.button_times", "Button times"),
    modes = ProtoField.bytes("doorlink.modes", "Mode bytes"),
    week = ProtoField.string("doorlink.week", "Week pattern (Sunday first)"),
    rest_days = ProtoField.string("doorlink.rest_days", "Rest days"),
    flag_kind = ProtoField.uint8("doorlink.flag_kind", "Flag kind", base.DEC),
    site = ProtoField.uint8("doorlink.site", "Site byte", base.DEC),
    card_number = ProtoField.uint16("doorlink.card_number", "Card number", base.DEC),
    card = ProtoField.string("doorlink.card", "Card"),
    device = ProtoField.uint8("doorlink.device", "Device number", base.DEC),
    ip = ProtoField.ipv4("doorlink.ip", "Address"),
    mask = ProtoField.ipv4("doorlink.mask", "Subnet mask"),
    gateway = ProtoField.ipv4("doorlink.gateway", "Gateway"),
    image_mode = ProtoField.uint8("doorlink.image_mode", "Image mode", base.DEC),
    time_value = ProtoField.uint8("doorlink.time_value", "Time value", base.DEC),
    port = ProtoField.uint16("doorlink.port", "Monitoring port", base.DEC),
    count = ProtoField.uint16("doorlink.count", "Record count", base.DEC),
    index = ProtoField.uint16("doorlink.index", "Record index", base.DEC),
    held = ProtoField.uint16("doorlink.held", "Records held", base.DEC),
    record = ProtoField.bytes("doorlink.record", "Card record"),
    user_style = ProtoField.uint8("doorlink.user_style", "User style", base.DEC),
    open_style = ProtoField.uint8("doorlink.open_style", "Open style", base.DEC),
    image = ProtoField.uint16("doorlink.image", "Image number", base.DEC),
    seq = ProtoField.uint8("doorlink.seq", "Sequence byte", base.DEC),
    marker = ProtoField.bytes("doorlink.marker", "Trailer marker"),
    images = ProtoField.uint16("doorlink.images", "Total images", base.DEC),
    image_data = ProtoField.bytes("doorlink.image_data", "Image bytes"),
    time = ProtoField.string("doorlink.time", "Record time"),
    record_kind = ProtoField.uint8("doorlink.record_kind", "Record kind", base.DEC),
    blocks = ProtoField.uint16("doorlink.blocks", "Number of blocks", base.DEC),
    block = ProtoField.uint16("doorlink.block", "Block number", base.DEC),
    in_last = ProtoField.uint8("doorlink.in_last_block", "Records in the last block", base.DEC),
    photo_id = ProtoField.bytes("doorlink.photo_id", "Photo id"),
    report = ProtoField.string("doorlink.report", "Error report"),
    frame_length = ProtoField.uint16("doorlink.frame.length", "Payload length", base.DEC),
    frame_reserved = ProtoField.uint16("doorlink.frame.reserved", "Reserved number", base.HEX),
    frame_node = ProtoField.uint16("doorlink.frame.node", "Node number", base.DEC),
    frame_station = ProtoField.uint16("doorlink.frame.station", "Station address", base.HEX),
    frame_command = ProtoField.uint8("doorlink.frame.command", "Command byte", base.HEX),
    frame_payload = ProtoField.bytes("doorlink.frame.payload", "Payload"),
    unused = ProtoField.bytes("doorlink.unused", "Not used"),
}
local field_list = {}
for _, field in pairs(F) do field_list[#field_list + 1] = field end
doorlink.fields = field_list

local ACK = "\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA"
local END_MARKER = "\x46\x64\x74\x84\x22"
local ALTERNATIVE_RESEND = "\x47\x74\x84\x94\x33"
local DISCOVERY = "\x48\x84\x94\x04\x44"

local DOOR_PATTERNS = {
    ["\x51\x15\x25\x35\x88\x99"] = 0,
    ["\x52\x25\x35\x45\x99\x00"] = 1,
    ["\x53\x35\x45\x55\x00\x11"] = 2,
    ["\x54\x45\x55\x65\x11\x22"] = 3,
}

-- State kept across packets, filled on the first pass only:
--   last request seen from each host socket to each controller;
--   the name a reply got from that context, by frame number;
--   monitoring targets (host address and port) named by requests.
local last_request = {}
local reply_context = {}
local monitor_targets = {}

function doorlink.init()
    last_request = {}
    reply_context = {}
    monitor_targets = {}
end

local function u16(raw, at) return raw:byte(at + 1) * 256 + raw:byte(at + 2) end

local function card_text(site, number) return string.format("%03d%05d", site, number) end

-- Adds the site byte, the card number and their card text from 3 bytes at at.
local function add_card(t, buf, raw, at)
    local site, number = raw:byte(at + 1), u16(raw, at + 1)
    t:add(F.card, buf(at, 3), card_text(site, number))
    t:add(F.site, buf(at, 1))
    t:add(F.card_number, buf(at + 1, 2))
    return card_text(site, number)
end

-- Six plain binary clock values (year within the century first).
local function binary_time(raw, at)
    local b = { raw:byte(at + 1, at + 6) }
    return string.format("20%02d-%02d-%02d %02d:%02d:%02d", b[1], b[2], b[3], b[4], b[5], b[6])
end

local function add_mac(t, buf, at, field) t:add(field or F.mac, buf(at, 6)) end

local function add_command(t, buf, length)
    t:add(F.command, buf(0, 4))
    if length and length > 4 then t:add(F.subcode, buf(4, 1)) end
end

-- Items of width numbers from n slots at at; trailing empty slots are left out.
local function time_items(raw, at, slots, width)
    local items, last = {}, 0
    for i = 0, slots - 1 do
        local v = { raw:byte(at + i * width + 1, at + (i + 1) * width) }
        local text
        if width == 2 then
            text = string.format("%02d%02d", v[1], v[2])
        else
            text = string.format("%02d%02d-%02d%02d-%02d", v[1], v[2], v[3], v[4], v[5])
        end
        items[#items + 1] = text
        for _, x in ipairs(v) do if x ~= 0 then last = i + 1 end end
    end
    return table.concat(items, ",", 1, last)
end

-- The command code, sub-code and, where the datagram is long enough, a
-- selector byte at 5 and the controller MAC at mac_at.
local function command_with_mac(mac_at, selector)
    return function(t, buf, raw)
        add_command(t, buf, #raw)
        if selector then t:add(F.selector, buf(5, 1)) end
        if #raw >= mac_at + 6 then add_mac(t, buf, mac_at) end
    end
end

-- The fields that a framed command and a framed reply share; the payload
-- is cut to what the datagram holds.
local function frame_fields(t, buf, raw, overhead)
    t:add(F.frame_length, buf(2, 2))
    t:add(F.frame_reserved, buf(4, 2))
    t:add(F.frame_node, buf(6, 2))
    t:add(F.frame_station, buf(12, 2))
    t:add(F.frame_command, buf(17, 1))
    local length = math.min(u16(raw, 2), #raw - overhead)
    if length > 0 then t:add(F.frame_payload, buf(18, length)) end
end

-------------------------------------------------------------------------------
-- Requests (host to controller). Each entry: a test on the raw bytes, the
-- message name, and what it adds to the tree. Tried in order.

local function clock_block(t, buf, raw, at)
    local text = binary_time(raw, at + 1)
    t:add(F.clock, buf(at + 1, 6), text)
    t:add(F.weekday, buf(at, 1))
    add_mac(t, buf, at + 7)
    return text
end

local requests = {
    { "Set clock", function(r) return r:sub(1, 5) == "\x43\x34\x44\x54\x99" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 31 then return end
          local text = clock_block(t, buf, raw, 5)
          clock_block(t, buf, raw, 18)
          return text
      end },
    { "Read clock", function(r) return r:sub(1, 6) == "\x83\x38\x48\x58\x33\x00" end,
      command_with_mac(6, true) },
    { "Record and direction query", function(r) return r:sub(1, 6) == "\x83\x38\x48\x58\x33\x01" end,
      command_with_mac(6, true) },
    { "Force door", function(r) return r:sub(1, 6) == "\x63\x36\x46\x56\x11\x22" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 18 then return end
          local door = DOOR_PATTERNS[raw:sub(7, 12)]
          t:add(F.door_pattern, buf(6, 6))
          if door then t:add(F.door, buf(6, 6), door) end
          if #raw >= 20 then
              t:add(F.extra, buf(12, 1))
              add_mac(t, buf, 13)
          else
              add_mac(t, buf, 12)
          end
          return door and ("door " .. door)
      end },
    { "Initialise", function(r) return r:sub(1, 5) == "\x31\x13\x23\x33\x66" end,
      command_with_mac(5) },
    { "Current door state query", function(r) return r:sub(1, 6) == "\x82\x28\x38\x48\x22\x04" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          t:add(F.selector, buf(5, 1))
          if #raw >= 14 then
              t:add(F.extra, buf(6, 1))
              add_mac(t, buf, 7)
          elseif #raw >= 12 then
              add_mac(t, buf, 6)
          end
      end },
    { "Door state query", function(r) return r:sub(1, 5) == "\x82\x28\x38\x48\x22" and #r >= 6 end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          t:add(F.selector, buf(5, 1))
          if #raw >= 12 then add_mac(t, buf, 6) end
          return "selector " .. raw:byte(6)
      end },
    { "Lock and button times",
      function(r) return r:sub(1, 12) == "\x62\x26\x36\x46\x00\x11\x02\x02\x02\x02\x02\x02" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          local lock, button
          if #raw == 58 then
              lock, button = time_items(raw, 12, 4, 5), time_items(raw, 32, 4, 5)
              t:add(F.lock_times, buf(12, 20), lock)
              t:add(F.button_times, buf(32, 20), button)
              add_mac(t, buf, 52)
          elseif #raw >= 50 then
              lock, button = time_items(raw, 12, 8, 2), time_items(raw, 28, 8, 2)
              t:add(F.lock_times, buf(12, 16), lock)
              t:add(F.button_times, buf(28, 16), button)
              if #raw >= 52 then
                  t:add(F.extra, buf(44, 1))
                  add_mac(t, buf, 45)
              else
                  add_mac(t, buf, 44)
              end
          end
          return lock and ("lock " .. lock .. " button " .. button)
      end },
    { "Rest days",
      function(r) return r:sub(1, 12) == "\x62\x26\x36\x46\x00\x11\x01\x01\x01\x01\x01\x01" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 105 then return end
          local week = {}
          for i = 1, 7 do week[i] = tostring(raw:byte(12 + i)) end
          local days = time_items(raw, 19, 20, 2)
          t:add(F.week, buf(12, 7), table.concat(week))
          t:add(F.rest_days, buf(19, 40), days)
          add_mac(t, buf, 99)
          return "week " .. table.concat(week) .. " days " .. days
      end },
    { "Set modes", function(r) return r:sub(1, 5) == "\x33\x33\x43\x53\x88" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 14 then return end
          t:add(F.modes, buf(5, 3))
          if #raw >= 26 then
              t:add(F.extra, buf(8, 1))
              add_mac(t, buf, 9)
          else
              add_mac(t, buf, 8)
          end
      end },
    { "Monitoring request", function(r) return r:sub(1, 5) == "\x91\x19\x29\x39\x22" end,
      function(t, buf, raw, pinfo)
          add_command(t, buf, #raw)
          if #raw >= 8 then t:add(F.extra, buf(5, 1)) end
          -- The controller pushes to the socket this request came from.
          monitor_targets[tostring(pinfo.src) .. ":" .. pinfo.src_port] = true
      end },
    { "Photo test", function(r) return r == "\x45\x54\x64\x74\x11" end,
      function(t, buf, raw) add_command(t, buf, #raw) end },
    { "Card flag", function(r)
          local c = r:sub(1, 4)
          return c == "\x71\x17\x27\x37" or c == "\x72\x27\x37\x47"
      end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 4))
          t:add(F.flag_kind, buf(0, 1), raw:byte(1) == 0x71 and 1 or 2)
          if #raw < 16 then return end
          local card = add_card(t, buf, raw, 4)
          add_mac(t, buf, 10)
          return "card " .. card
      end },
    { "Discovery request", function(r) return r:sub(1, 5) == DISCOVERY and #r < 36 end,
      function(t, buf) t:add(F.command, buf(0, 5)) end },
    { "Network settings", function(r) return r:sub(1, 5) == "\x44\x44\x54\x64\x00" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 26 then return end
          t:add(F.ip, buf(5, 4))
          t:add(F.time_value, buf(9, 1))
          t:add(F.image_mode, buf(10, 1))
          t:add(F.device, buf(11, 1))
          t:add(F.mask, buf(12, 4))
          t:add(F.gateway, buf(16, 4))
          add_mac(t, buf, 20)
          return string.format("address %d.%d.%d.%d", raw:byte(6, 9)) .. " device " .. raw:byte(12)
      end },
    { "Return address", function(r) return r:sub(1, 6) == "\x61\x16\x26\x36\x99\x00" end,
      function(t, buf, raw, pinfo)
          add_command(t, buf, #raw)
          if #raw < 18 then return end
          t:add(F.ip, buf(6, 4))
          t:add(F.port, buf(10, 2))
          add_mac(t, buf, 12)
          local address = string.format("%d.%d.%d.%d", raw:byte(7, 10))
          monitor_targets[address .. ":" .. u16(raw, 10)] = true
          monitor_targets[tostring(pinfo.src) .. ":" .. u16(raw, 10)] = true
          return "host " .. address .. ":" .. u16(raw, 10)
      end },
    { "MAC change", function(r) return r:sub(1, 5) == "\x13\x66\x60\x90\x77" end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 5))
          if #raw >= 11 then add_mac(t, buf, 5, F.new_mac) end
      end },
    { "MAC query", function(r) return r:sub(1, 6) == "\x34\x43\x53\x63\x99\x03" end,
      command_with_mac(6, true) },
    { "Card list announcement", function(r) return r:sub(1, 10) == "\x49\x94\x04\x14\x55\x49\x94\x04\x14\x55" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 18 then return end
          t:add(F.count, buf(10, 2))
          add_mac(t, buf, 12)
          return "count " .. u16(raw, 10)
      end },
    { "Card list record", function(r) return r:sub(1, 10) == "\x50\x05\x15\x25\x77\x50\x05\x15\x25\x77" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 526 then return end
          local record = t:add(F.record, buf(10, 360))
          local card = add_card(record, buf, raw, 10)
          record:add(F.user_style, buf(22, 1))
          record:add(F.open_style, buf(309, 1))
          t:add(F.count, buf(522, 2))
          t:add(F.index, buf(524, 2))
          return string.format("index %d of %d, card %s", u16(raw, 524), u16(raw, 522), card)
      end },
    { "Card read-back request", function(r) return r:sub(1, 5) == "\x32\x23\x33\x43\x77" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          if #raw < 13 then return end
          t:add(F.index, buf(5, 2))
          add_mac(t, buf, 7)
          return "index " .. u16(raw, 5)
      end },
    { "Record retrieval request", function(r) return r:sub(1, 5) == "\x41\x14\x24\x34\x77" end,
      command_with_mac(5) },
    { "Transfer request", function(r) return r:sub(1, 5) == "\x40\x14\x24\x34\x66" end,
      command_with_mac(5) },
    { "Alternative resend request", function(r) return r == ALTERNATIVE_RESEND end,
      function(t, buf) t:add(F.command, buf(0, 5)) end },
    { "Resend request", function(r) return #r == 5 and r:sub(1, 2) == "\xFF\xFF" end,
      function(t, buf, raw)
          t:add(F.image, buf(2, 2))
          t:add(F.seq, buf(4, 1))
          return string.format("image %d seq %d", u16(raw, 2), raw:byte(5))
      end },
    { "Block request", function(r) return #r == 6 and r:sub(1, 2) == "\xFF\xFF" end,
      function(t, buf, raw)
          t:add(F.blocks, buf(2, 2))
          t:add(F.block, buf(4, 2))
          return string.format("after block %d of %d", u16(raw, 4), u16(raw, 2))
      end },
    { "Final block request", function(r) return #r == 12 and r:sub(1, 2) == "\xFF\xFF" end,
      function(t, buf, raw)
          t:add(F.blocks, buf(2, 2))
          t:add(F.block, buf(4, 2))
          t:add(F.unused, buf(6, 6))
          return string.format("all %d blocks received", u16(raw, 2))
      end },
    { "Block acknowledgement", function(r) return #r == 5 and r ~= END_MARKER end,
      function(t, buf, raw)
          t:add(F.marker, buf(0, 2))
          t:add(F.image, buf(2, 2))
          t:add(F.seq, buf(4, 1))
          return string.format("image %d seq %d", u16(raw, 2), raw:byte(5))
      end },
    { "Framed command", function(r) return r:sub(1, 2) == "\xA3\xA8" and #r >= 22 end,
      function(t, buf, raw)
          frame_fields(t, buf, raw, 22)
          return string.format("node %d command 0x%02x", u16(raw, 6), raw:byte(18))
      end },
    { "Photo resend request", function(r) return #r == 10 and r:sub(1, 4) == "\x73\x37\x47\x57" end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 4))
          local card = add_card(t, buf, raw, 4)
          t:add(F.photo_id, buf(7, 3))
          return "card " .. card
      end },
}

-------------------------------------------------------------------------------
-- Replies and pushes (controller to host).

-- The block trailer: the last five bytes of a photo or record block.
local function add_trailer(t, buf, raw)
    local L = #raw
    t:add(F.marker, buf(L - 5, 2))
    t:add(F.image, buf(L - 3, 2))
    t:add(F.seq, buf(L - 1, 1))
    return u16(raw, L - 3), raw:byte(L)
end

local function record_block(t, buf, raw)
    local L = #raw
    t:add(F.image_data, buf(0, L - 21))
    local record = t:add(doorlink, buf(L - 21, 16), "Access record")
    local card = add_card(record, buf, raw, L - 21)
    record:add(F.record_kind, buf(L - 18, 1))
    local when = binary_time(raw, L - 15)
    record:add(F.time, buf(L - 15, 6), when)
    record:add(F.images, buf(L - 7, 2))
    local image, seq = add_trailer(t, buf, raw)
    return string.format("image %d seq %d, card %s at %s", image, seq, card, when)
end

local function live_photo_block(t, buf, raw)
    t:add(F.image_data, buf(10, 1024))
    local card = add_card(t, buf, raw, 1034)
    t:add(F.photo_id, buf(1037, 3))
    local b = { raw:byte(1041, 1045) }
    local when = string.format("20%02d-%02d-%02d %02d:%02d", b[1], b[2], b[3], b[4], b[5])
    t:add(F.time, buf(1040, 5), when)
    t:add(F.blocks, buf(1050, 1))
    t:add(F.block, buf(1051, 1))
    return string.format("block %d of %d, card %s at %s", raw:byte(1052), raw:byte(1051), card, when)
end

local function looks_like_live_photo(raw)
    if #raw ~= 1052 then return false end
    local month, day, hour, minute = raw:byte(1042, 1045)
    local count, block = raw:byte(1051, 1052)
    return month >= 1 and month <= 12 and day >= 1 and day <= 31 and hour < 24 and minute < 60 and
        (block < count or block == 0)
end

local function pushed(t, buf, raw)
    if looks_like_live_photo(raw) then
        return "Live photo block", live_photo_block(t, buf, raw)
    end
    local text = raw:sub(1, (raw:find("\0", 1, true) or #raw + 1) - 1)
    t:add(F.report, buf(0, #raw), text)
    return "Error report", text
end

-- What the acknowledgement pattern answers, by the request it follows.
local function answer_name(context)
    if context then return context .. " acknowledgement" end
    return "Acknowledgement"
end

local replies = {
    { function(r) return #r == 36 and r:sub(1, 5) == DISCOVERY end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 5))
          t:add(F.device, buf(5, 1))
          t:add(F.ip, buf(6, 4))
          t:add(F.image_mode, buf(10, 1))
          t:add(F.time_value, buf(11, 1))
          t:add(F.mask, buf(12, 4))
          t:add(F.gateway, buf(16, 4))
          t:add(F.unused, buf(20, 16))
          return "Discovery reply",
              string.format("device %d at %d.%d.%d.%d", raw:byte(6), raw:byte(7, 10))
      end },
    { function(r) return #r >= 13 and r:sub(1, 6) == "\x83\x38\x48\x58\x33\x00" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          local text = string.format("20%02x-%02x-%02x %02x:%02x:%02x", raw:byte(7, 12))
          t:add(F.clock, buf(6, 6), text)
          t:add(F.weekday, buf(12, 1))
          return "Clock reply", text
      end },
    { function(r) return #r >= 10 and r:sub(1, 6) == "\x83\x38\x48\x58\x33\x01" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          t:add(F.rec, buf(6, 2))
          t:add(F.dir, buf(8, 2))
          return "Record and direction reply", string.format("rec %d dir %d", u16(raw, 6), u16(raw, 8))
      end },
    { function(r) return #r >= 8 and r:sub(1, 6) == "\x82\x28\x38\x48\x22\x04" end,
      function(t, buf, raw)
          add_command(t, buf, #raw)
          t:add(F.state, buf(6, 1))
          t:add(F.state, buf(7, 1))
          return "Current door state reply", "state " .. raw:byte(7)
      end },
    { function(r) return #r >= 7 and r:sub(1, 4) == "\x74\x47\x57\x67" end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 4))
          return "Card flag reply", "card " .. add_card(t, buf, raw, 4)
      end },
    { function(r) return r == END_MARKER end,
      function(t, buf) t:add(F.command, buf(0, 5)); return "End marker" end },
    { function(r) return #r == 1029 end,
      function(t, buf, raw)
          t:add(F.image_data, buf(0, 1024))
          local image, seq = add_trailer(t, buf, raw)
          return "Photo block", string.format("image %d seq %d", image, seq)
      end },
    { function(r) return #r == 1045 or #r == 533 end,
      function(t, buf, raw) return "Record block", record_block(t, buf, raw) end },
    { function(r) return #r == 1034 and r:sub(1, 2) == "\x40\x14" end,
      function(t, buf, raw)
          t:add(F.command, buf(0, 2))
          local blocks, block, inlast = u16(raw, 1029), u16(raw, 1031), raw:byte(1034)
          local n = block < blocks and 64 or math.min(inlast, 64)
          for j = 0, n - 1 do
              local at = 5 + 16 * j
              local slot = t:add(doorlink, buf(at, 16), "Record " .. (j + 1))
              slot:add(F.time, buf(at, 6), binary_time(raw, at))
              add_card(slot, buf, raw, at + 6)
              slot:add(F.record_kind, buf(at + 9, 1))
          end
          t:add(F.blocks, buf(1029, 2))
          t:add(F.block, buf(1031, 2))
          t:add(F.in_last, buf(1033, 1))
          return "Transfer block", string.format("block %d of %d, %d records", block, blocks, n)
      end },
    { function(r) return #r == 528 end,
      function(t, buf, raw)
          local record = t:add(F.record, buf(0, 360))
          local card = add_card(record, buf, raw, 0)
          record:add(F.user_style, buf(12, 1))
          record:add(F.open_style, buf(299, 1))
          t:add(F.index, buf(510, 2))
          t:add(F.held, buf(526, 2))
          return "Card read-back reply",
              string.format("index %d of %d, card %s", u16(raw, 510), u16(raw, 526), card)
      end },
    { function(r) return #r >= 19 and r:sub(1, 2) == "\xD3\xD8" end,
      function(t, buf, raw)
          frame_fields(t, buf, raw, 18)
          return "Framed reply", string.format("node %d, %d payload bytes", u16(raw, 6), u16(raw, 2))
      end },
    { function(r) return #r == 12 and r:sub(1, 10) == ACK end,
      function(t, buf, raw)
          t:add(F.ack, buf(0, 10))
          t:add(F.count, buf(10, 2))
          return "Card list announcement reply", "count " .. u16(raw, 10)
      end },
    { function(r, context) return #r == 14 and (r:sub(1, 10) == ACK or context == "Card list record") end,
      function(t, buf, raw)
          t:add(F.ack, buf(0, 10))
          t:add(F.count, buf(10, 2))
          t:add(F.index, buf(12, 2))
          return "Card list record reply", string.format("index %d of %d", u16(raw, 12), u16(raw, 10))
      end },
    { function(r) return #r == 16 and r:sub(1, 10) == ACK end,
      function(t, buf)
          t:add(F.ack, buf(0, 10))
          add_mac(t, buf, 10)
          return "MAC change reply"
      end },
    { function(r, context) return context == "MAC query" and #r >= 6 end,
      function(t, buf, raw)
          add_mac(t, buf, 0)
          if #raw >= 10 then t:add(F.ip, buf(6, 4)) end
          return "MAC query reply"
      end },
    { function(r, context) return context == "Door state query" end,
      function(t, buf, raw)
          t:add(F.state_reply, buf(0, #raw))
          return "Door state reply", #raw .. " bytes"
      end },
    { function(r) return r:sub(1, 10) == ACK end,
      function(t, buf, _, context)
          t:add(F.ack, buf(0, 10))
          return answer_name(context)
      end },
    { function(r, context)
          return #r == 10 and (context == "Block acknowledgement" or context == "Resend request" or
              context == "Alternative resend request" or context == "Record retrieval request")
      end,
      function(t, buf) t:add(F.unused, buf(0, 10)); return "Short reply (end of retrieval)" end },
}

-------------------------------------------------------------------------------

local function looks_like_request(raw)
    for _, entry in ipairs(requests) do
        if entry[2](raw) then return true end
    end
    return false
end

local function conversation(pinfo, to_controller)
    if to_controller then
        return tostring(pinfo.src) .. ":" .. pinfo.src_port .. ">" .. tostring(pinfo.dst)
    end
    return tostring(pinfo.dst) .. ":" .. pinfo.dst_port .. ">" .. tostring(pinfo.src)
end

-- Names and dissects one datagram; direction "to controller", "from
-- controller" or "pushed". Returns false when the bytes are not the protocol's.
local function dissect(buf, pinfo, tree, direction)
    local raw = buf:raw()
    if #raw == 0 then return false end
    local t = tree:add(doorlink, buf())
    local name, summary

    if direction == "to controller" then
        for _, entry in ipairs(requests) do
            if entry[2](raw) then
                name = entry[1]
                summary = entry[3](t, buf, raw, pinfo)
                break
            end
        end
        if not pinfo.visited and name then last_request[conversation(pinfo, true)] = name end
        name = name or "Unknown request"
    else
        if not pinfo.visited then
            reply_context[pinfo.number] = last_request[conversation(pinfo, false)] or false
        end
        local context = reply_context[pinfo.number] or nil
        for _, entry in ipairs(replies) do
            if entry[1](raw, context) then
                name, summary = entry[2](t, buf, raw, context)
                break
            end
        end
        if not name and (direction == "pushed" or looks_like_live_photo(raw)) then
            direction = "pushed"
            name, summary = pushed(t, buf, raw)
        end
        if not name and monitor_targets[tostring(pinfo.dst) .. ":" .. pinfo.dst_port] then
            direction = "pushed"
            name, summary = pushed(t, buf, raw)
        end
        name = name or "Unknown reply"
    end

    t:append_text(": " .. name)
    t:add(F.message, name):set_generated()
    t:add(F.direction, direction):set_generated()
    pinfo.cols.protocol = "DOORLINK"
    pinfo.cols.info = summary and (name .. ", " .. summary) or name
    return true
end

function doorlink.dissector(buf, pinfo, tree)
    local to_controller
    if pinfo.dst_port == CONTROLLER_PORT and pinfo.src_port ~= CONTROLLER_PORT then
        to_controller = true
    elseif pinfo.src_port == CONTROLLER_PORT and pinfo.dst_port ~= CONTROLLER_PORT then
        to_controller = false
    else
        -- Both ends on port 9000 (a host bound there): tell by the bytes.
        to_controller = looks_like_request(buf:raw())
    end
    dissect(buf, pinfo, tree, to_controller and "to controller" or "from controller")
    return buf:len()
end

-- Off port 9000: what a controller pushes to a monitoring port it was given
-- (its photos are also recognised by their layout), and photo resend requests.
local function heuristic(buf, pinfo, tree)
    if pinfo.src_port == CONTROLLER_PORT or pinfo.dst_port == CONTROLLER_PORT then return false end
    local raw = buf:raw()
    if #raw == 10 and raw:sub(1, 4) == "\x73\x37\x47\x57" then
        return dissect(buf, pinfo, tree, "to controller")
    end
    if monitor_targets[tostring(pinfo.dst) .. ":" .. pinfo.dst_port] or looks_like_live_photo(raw) then
        return dissect(buf, pinfo, tree, "pushed")
    end
    return false
end

DissectorTable.get("udp.port"):add(CONTROLLER_PORT, doorlink)
doorlink:register_heuristic("udp", heuristic)
