#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: make_corpus.py OUT_DIR.

One folder per target under OUT_DIR, one small input per file. The seeds are
written here, readable, instead of being kept as opaque files: each is a
typical input or an edge case of the reader or call it feeds.
"""
import shutil
import struct
import sys
from pathlib import Path


# ---- MessagePack ---------------------------------------------------------------------------------
def mp(value):
    """A small MessagePack encoder for the seeds (the plug-in writes none)."""
    if value is None:
        return b"\xc0"
    if value is True or value is False:
        return b"\xc3" if value else b"\xc2"
    if isinstance(value, int):
        if 0 <= value < 128:
            return bytes([value])
        if -32 <= value < 0:
            return struct.pack(">b", value)
        if value >= 0:
            for code, fmt in ((0xCC, ">B"), (0xCD, ">H"), (0xCE, ">I"), (0xCF, ">Q")):
                if value < 1 << (8 * struct.calcsize(fmt)):
                    return bytes([code]) + struct.pack(fmt, value)
        for code, fmt in ((0xD0, ">b"), (0xD1, ">h"), (0xD2, ">i"), (0xD3, ">q")):
            bits = 8 * struct.calcsize(fmt)
            if -(1 << (bits - 1)) <= value:
                return bytes([code]) + struct.pack(fmt, value)
    if isinstance(value, float):
        return b"\xcb" + struct.pack(">d", value)
    if isinstance(value, str):
        data = value.encode()
        if len(data) < 32:
            return bytes([0xA0 | len(data)]) + data
        return b"\xd9" + bytes([len(data)]) + data
    if isinstance(value, bytes):
        return b"\xc4" + bytes([len(value)]) + value
    if isinstance(value, list):
        head = bytes([0x90 | len(value)]) if len(value) < 16 else b"\xdc" + struct.pack(">H", len(value))
        return head + b"".join(mp(v) for v in value)
    if isinstance(value, dict):
        head = bytes([0x80 | len(value)]) if len(value) < 16 else b"\xde" + struct.pack(">H", len(value))
        return head + b"".join(mp(k) + mp(v) for k, v in value.items())
    raise TypeError(value)


MSGPACK = {
    "fixint": b"\x05",
    "negative_fixint": b"\xff",
    "uint8": b"\xcc\xff",
    "uint64": b"\xcf" + b"\xff" * 8,
    "int64_min": b"\xd3\x80" + b"\x00" * 7,
    "float32": b"\xca\x3f\xc0\x00\x00",
    "float64_nan": b"\xcb\x7f\xf8" + b"\x00" * 6,
    "map_key_not_string": b"\x81\x01\x02",
    "never_used": b"\xc1",
    "ext": b"\xd4\x01\x02",
    "str8_truncated": b"\xd9\x05ab",
    "bin16_truncated": b"\xc5\x01\x00abc",
    "array_extra_byte": b"\x92\x01\x02\x03",
    "array_open": b"\x93\x01",
    "map16_open": b"\xde\xff\xff\xa1k",
    "array32_huge_count": b"\xdd\xff\xff\xff\xff\x01",
    "str32_huge": b"\xdb\xff\xff\xff\xff",
    "item": mp({"name": "n1", "count": 1, "tags": ["a", "b"], "data": b"\x00\x01", "w": 2.5}),
    "nested": mp([{"a": [1, -1, None, True, False]}, [[[]]], {}, "x" * 40]),
    "duplicate_key": b"\x82\xa1a\x01\xa1a\x02",
    "bin8": b"\xc4\x03abc",
    "deep": b"\x91" * 2000 + b"\xc0",
    "map16": mp({str(i): i for i in range(20)}),
    "array16": mp(list(range(20))),
}


# ---- HostValue graphs (the framing of host_value_fuzz.cpp) -----------------------------------------
NULL_POINTER = 0x10


def hv_text(tag, data, flags=0):
    return bytes([tag | flags, len(data)]) + data


def hv_array(*items, flags=0):
    return bytes([9 | flags, len(items)]) + b"".join(items)


def hv_map(*entries, flags=0):
    # Keys of all entries come first, then their values in order.
    keys = b"".join(b"\xff" if k is None else bytes([len(k)]) + k for k, _ in entries)
    return bytes([10 | flags, len(entries)]) + keys + b"".join(v for _, v in entries)


HV_NULL = b"\x00"
HV_TRUE = b"\x01\x01"
HOST_VALUE = {
    "null": HV_NULL,
    "bool_byte_7": b"\x01\x07",
    "int64": b"\x02" + struct.pack("<q", -5),
    "uint64": b"\x03" + struct.pack("<Q", 2**64 - 1),
    "double_nan": b"\x04" + struct.pack("<d", float("nan")),
    "text": hv_text(5, b"hello"),
    "owned_text_with_zero": hv_text(6, b"a\x00b"),
    "bytes": hv_text(7, b"\x00\xff"),
    "owned_bytes": hv_text(8, b"xyz"),
    "text_null_pointer": hv_text(5, b"abc", NULL_POINTER),
    "empty_text_null_pointer": hv_text(6, b"", NULL_POINTER),
    "array": hv_array(HV_TRUE, hv_text(6, b"s"), HV_NULL),
    "array_null_pointer": bytes([9 | NULL_POINTER, 3]),
    "map": hv_map((b"a", HV_TRUE), (b"b", hv_array(HV_NULL))),
    "map_duplicate_keys": hv_map((b"k", HV_TRUE), (b"k", b"\x01\x00")),
    "map_null_key": hv_map((None, HV_TRUE)),
    "map_null_pointer": bytes([10 | NULL_POINTER, 2]),
    "unknown_tag": b"\x0b" + b"\x00" * 8,
    "deep": b"\x09\x01" * 2000 + HV_NULL,
    "wide": hv_array(*[HV_TRUE] * 200),
}


# ---- JSON, YAML, format, invoke ---------------------------------------------------------------------
JSON = {
    "object": '{"gameId": 42, "tags": ["ranked", "normal"], "ok": true, "none": null}',
    "numbers": "[0, -0, 42, -42, 42.0, -0.0, 1e400, 1e-400, 18446744073709551615, "
    "18446744073709551616, -9223372036854775808, -9223372036854775809, 5e-324]",
    "strings": r'["a\"b\\c", "\b\f\n\r\t\u0001", "\u00e9\ud83d\ude00", "\u0000", "caf' + "\u00e9" + '"]',
    "lone_surrogate": r'["\ud800"]',
    "duplicate_key": '{"a": 1, "a": 2}',
    "nested": '{"a": {"b": [{"c": []}, {}]}, "d": [[], [[]]]}',
    "blanks": " \t\r\n 42 \n",
    "empty": "",
    "blanks_only": "   ",
    "trailing": "{} x",
    "unterminated": '{"a": [1, 2',
    "bad_escape": r'"\x"',
    "deep": "[" * 3000 + "]" * 3000,
    "deep_open": "[" * 3000,
    "pretty": '{\n    "a": [\n        1,\n        2.5\n    ]\n}',
}

YAML = {
    "scalars": "a: 42\nb: -42\nc: 4.5\nd: 1.0\ne: yes\nf: Off\ng: ~\nh: \"yes\"\ni: 'x'\n",
    "tags": "a: !!str 42\nb: !!int -7\nc: !!float 1e3\nd: !!bool maybe\ne: !!int 18446744073709551615\n",
    "bad_int": "a: !!int 12abc\n",
    "unknown_tag": "a: !custom x\n",
    "sequence_key": "? [a, b]\n: c\n",
    "anchors": "base: &b {x: 1, y: [1, 2]}\nuse: *b\nlist: [*b, *b]\n",
    "alias_later": "a: *x\nb: &x 1\n",
    "alias_cyclic": "a: &x [1, *x]\n",
    "duplicate_anchor": "a: &x 1\nb: &x 2\n",
    "multi_document": "---\na: 1\n---\nb: 2\n",
    "empty_then_document": "---\n---\na: 1\n",
    "only_marker": "---",
    "block_scalars": "lit: |\n  line one\n  line two\nfold: >\n  folded\n  text\n",
    "flow": "{a: [1, {b: c}], d: [], e: {}}",
    "numbers": "- inf\n- -inf\n- .nan\n- 0x1A\n- 1e400\n- -1e400\n- 9223372036854775808\n- -0\n",
    "parser_error": "a: [1, 2\nb: }\n",
    "deep_flow": "[" * 1200 + "]" * 1200,
    "aliases_multiply": "a: &a [1, 1, 1, 1, 1, 1, 1, 1, 1, 1]\n"
    + "".join(f"{n}: &{n} [*{p}, *{p}, *{p}, *{p}, *{p}, *{p}, *{p}, *{p}, *{p}, *{p}]\n"
              for p, n in zip("abcdefgh", "bcdefghi")),
}

FORMAT = {
    "positional": "sa|sb\n%2 and %1",
    "sequential_missing": "sa|sb\n%s %s %s",
    "percent": "\n100%% done",
    "width": "i42\n%1$5d|%1$-5d|%1$05d",
    "star": "i10|i3|d3.14159\n%*.*f",
    "star_numbered": "i7|s x\n%*1$s",
    "beyond_count": "sa|sb\n%3 x",
    "conversions": "L18446744073709551615|l-1|d-0.0|cZ|u4294967295\n%1$x %2$o %3$e %4$d %5$X %n",
    "bad_conversions": "sabc|i1\n%d %s %q %hhd %lls %Lf",
    "huge_width": "s\n%5000s|%.5000f|%999999999d",
    "long_spec": "i1\n%----------------------------------------------------------------5d",
    "template": 's/v1/x|sGET|stimed out\nError response for {url} {method}: {error}',
    "template_conversions": "l-1|b0|d2.5|sx\n{v!hex} {b!str?none} {d:.1f} {s?alt} {{literal}} }",
    "template_suffixes": "l5|sx\n{count_long} {name_str} {#flag@} {esc\\}aped}",
    "template_printf_mixed": "i3|sx|d1.5\n%d {name} %*d {last:5}",
    "template_at_trim": "L0\nSize:   {@n?}",
    "nan": "dnan|dinf|d-inf\n%1 %2$10.3f %3$a {x}",
}

INVOKE = {
    "get_item": "GET /f/v1/items/%34%32?\n",
    "get_item_not_found": "GET /f/v1/items/0\n",
    "get_item_trailing_slash": "GET /f/v1/items/1/\n",
    "post_item_json": "POST /f/v1/items/7?dry=1\nContent-Type: application/json; charset=utf-8\n\n"
    '{"name":"x","count":2,"weight":1.5,"color":"green","tags":["a"],"data":"AAE="}',
    "post_item_yaml": "POST /f/v1/items/7\nContent-Type: application/x-yaml\n\n"
    "name: why\ncount: 3\ncolor: red\n",
    "post_item_msgpack": b"POST /f/v1/items/1\nContent-Type: application/x-msgpack\n\n"
    + mp({"name": "m", "count": 5, "tags": ["t"], "data": b"\x01"}),
    "post_item_msgpack_extra": b"POST /f/v1/items/1\nContent-Type: application/x-msgpack\n\n"
    + mp({"name": "m"}) + b"\x01",
    "post_item_unsupported": "POST /f/v1/items/1\nContent-Type: text/plain\n\n{}",
    "post_item_no_type": "POST /f/v1/items/1\n\n{}",
    "files_reserved": "GET /f/v1/files/a/b/c\n",
    "files_raw": "GET /f/v1/files/a%2Fb/raw\n",
    "batch": "POST /f/v1/batches/g.n\nContent-Type: application/vnd.api+json\n\n"
    '{"items":[{"name":"a"},{"name":"b","count":-1}],"totals":{"x":1}}',
    "search_query": "GET /f/v1/search?q=a+b&limit=-5&tags.0=x&tags.0x2=z&tags.010=o"
    "&filter.name=f&filter.tags.1=t&&q=%41\ntoken: secret\nuser-agent: fuzz\n",
    "search_sniffed": "GET /f/v1/search?any=%7B%22k%22%3A%5B1%5D%7D&filter=---%0Aname%3A+why%0A\n",
    "search_msgpack_argument": "GET /f/v1/search?any=%81%A1k%01\n",
    "search_bad_index": "GET /f/v1/search?tags.1x=a&tags.2147483648=b\n",
    "search_token_in_query": "GET /f/v1/search?token=1\n",
    "search_arguments": "GET /f/v1/search\n@q=\"from array\"\n@limit=7\n@=[1,2]\n@any\n"
    "@filter={\"name\":\"n\",\"count\":1}\n",
    "search_empty_values": "GET /f/v1/search?q=&filter=&tags=&any=\n",
    "lists": "POST /f/v1/lists\nContent-Type: application/json\n\n[{\"name\":\"a\"},{\"name\":\"b\"}]",
    "lists_wrong_kind": "POST /f/v1/lists\nContent-Type: application/json\n\n{\"name\":\"a\"}",
    "raw_octet": "POST /f/v1/raw?flag\nContent-Type: application/octet-stream\n\n\x00\x01\x02",
    "raw_json": "POST /f/v1/raw\r\nContent-Type: APPLICATION/JSON\r\n\r\n{\"a\":[1,{\"b\":null}]}",
    "purge": "PURGE /f/v1/purge/3\n",
    "purge_wrong_custom": "ERASE /f/v1/purge/3\n",
    "status_any_method": "99 /f/v1/status/204\n",
    "status_failure": "DELETE /f/v1/status/404\n",
    "status_throws": "PUT /f/v1/status/500\n",
    "no_url": "GET\n",
    "percent_cut": "GET /f/v1/items/%4\n",
}


def trec(block, offset=None, length=None, magic=b"ZORV", body=b""):
    """A replay file: magic, 264 filler bytes, block offset and length, body, block."""
    block = block.encode() if isinstance(block, str) else block
    offset = 276 + len(body) if offset is None else offset
    length = len(block) if length is None else length
    header = magic + b"\x5a" * 264 + offset.to_bytes(4, "little") + length.to_bytes(4, "little")
    return header + body + block


TREC_FILE = {
    "good": trec('{"gameLength":1800000,"gameVersion":"14.3.1.200",'
                 '"lastGameChunkId":61,"lastKeyFrameId":30}', body=b"\x01" * 64),
    "block_before_header_end": trec('{"gameVersion":"1.2.3.4"}', offset=8),
    "nul_inside": trec(b'{"gameVersion":"1.2.3.4"}\x00garbage'),
    "past_end": trec('{"gameVersion":"1.2.3.4"}', length=4096),
    "oversize": trec("{}", length=1048577),
    "empty_block": trec(""),
    "bad_magic": trec("{}", magic=b"zorv"),
    "short": b"ZORV" + b"\x00" * 270,
    "array": trec("[1,2,3]"),
    "wrong_kind": trec('{"gameLength":"long"}'),
    "deep": trec("[" * 100 + "]" * 100),
}


DOWNLOAD_NAME = {
    "plain": "https://cdn.example/a/b/NA1-4012345678.trec?sig=1#x",
    "no_query": "https://cdn.example/NA1-42.trec",
    "fragment_with_slash": "https://cdn.example/a/x.trec#frag/ment",
    "slash_in_query": "https://cdn.example/a/?next=/b/x.trec",
    "trailing_slash": "https://cdn.example/a/b/",
    "double_slash": "https://cdn.example/a/b//",
    "no_slash": "NA1-42.trec",
    "empty": "",
    "dot": "https://h/a/.",
    "dot_dot": "https://h/a/..?x",
    "backslashes": "https://h/a/..\\..\\x.trec",
    "drive_relative": "https://h/a/C:x.trec",
    "encoded_dots": "https://h/a/%2e%2e%2fx.trec",
    "control": "https://h/a/x\x01y.trec",
    "line_break_in_name": "https://h/a/x\ny.trec?q",
    "line_break_in_query": "https://h/a/x.trec?q\nr",
    "nul": b"https://h/a/x\x00y.trec",
    "utf8": "https://h/a/\u00e9t\u00e9.trec",
    "long": "https://h/" + "a/" * 100 + "x" * 300 + ".trec",
}


def pe(plus=False, patches=(), cut=None):
    """An executable with a version resource, laid out as the tests' PE writer
    lays it out: headers, .text, then .rsrc with an icon subtree, the version
    subtree (type 16, name 1, language 0x409), the icon bytes and the
    VS_VERSION_INFO block. Each patch is (offset, bytes)."""
    out = bytearray(0x400)
    out[0:2] = b"MZ"
    out[0x3C:0x40] = struct.pack("<I", 0x80)
    opt = 0x98
    count_at = 108 if plus else 92
    out[0x80:0x98] = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 2, 0, 0, 0,
                                               240 if plus else 224, 0x22 if plus else 0x102)
    out[opt:opt + 2] = struct.pack("<H", 0x20B if plus else 0x10B)
    out[opt + count_at:opt + count_at + 4] = struct.pack("<I", 16)
    table = opt + (240 if plus else 224)

    def key(text):
        return (text + "\0").encode("utf-16-le")

    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 10 << 16 | 3, 311 << 16 | 3581, 11 << 16, 1,
                        0x3F, 0, 0x40004, 1, 0, 0, 0)
    translation = struct.pack("<HHH", 36, 4, 0) + key("Translation") + b"\0\0" + struct.pack("<I", 0x04B00409)
    var = struct.pack("<HHH", 68, 0, 1) + key("VarFileInfo") + b"\0\0" + translation
    block = struct.pack("<HHH", 40 + 52 + len(var), 52, 0) + key("VS_VERSION_INFO") + b"\0\0" + fixed + var

    def directory(*entries):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries)) + b"".join(
            struct.pack("<II", name, target) for name, target in entries)

    sub = 0x80000000
    rsrc = (directory((3, sub | 0x20), (16, sub | 0x60)) + directory((1, sub | 0x38))
            + directory((0x409, 0x50)) + struct.pack("<IIII", 0x20A0, 16, 0, 0)
            + directory((1, sub | 0x78)) + directory((0x409, 0x90))
            + struct.pack("<IIII", 0x20B0, len(block), 0, 0) + b"\0" * 16 + block)
    size = len(rsrc)
    raw = (size + 0x1FF) & ~0x1FF
    out[opt + count_at + 20:opt + count_at + 28] = struct.pack("<II", 0x2000, size)
    out[table:table + 80] = (b".text\0\0\0" + struct.pack("<IIIIIIHHI", 0x10, 0x1000, 0x200, 0x200,
                                                            0, 0, 0, 0, 0x60000020)
                             + b".rsrc\0\0\0" + struct.pack("<IIIIIIHHI", size, 0x2000, raw, 0x400,
                                                              0, 0, 0, 0, 0x40000040))
    out += rsrc + b"\0" * (raw - size)
    for offset, data in patches:
        out[offset:offset + len(data)] = data
    return bytes(out[:cut])


RSRC = 0x400
PE_VERSION = {
    "pe32": pe(),
    "pe32_plus": pe(plus=True),
    "truncated_in_block": pe(cut=RSRC + 0xB0 + 60),
    "pe_offset_past_end": pe(patches=[(0x3C, b"\xf0\xff\xff\xff")]),
    "huge_section_count": pe(patches=[(0x86, b"\xff\xff")]),
    "huge_entry_count": pe(patches=[(RSRC + 12, b"\xff\xff\xff\xff")]),
    "type_points_at_root": pe(patches=[(RSRC + 28, struct.pack("<I", 0x80000000))]),
    "name_points_at_itself": pe(patches=[(RSRC + 0x60 + 20, struct.pack("<I", 0x80000060))]),
    "name_points_at_root": pe(patches=[(RSRC + 20, struct.pack("<I", 0x50)),
                                       (RSRC + 0x60 + 20, struct.pack("<I", 0x80000000))]),
    "data_size_past_end": pe(patches=[(RSRC + 0x90 + 4, b"\xf0\xff\xff\xff")]),
    "short_fixed_info": pe(patches=[(RSRC + 0x90 + 4, struct.pack("<I", 60)),
                                    (RSRC + 0xB0, struct.pack("<HH", 60, 20))]),
    "value_past_block": pe(patches=[(RSRC + 0xB2, b"\x00\x04")]),
}


def write(folder, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py OUT_DIR")
    out = Path(sys.argv[1])
    targets = {
        "json": JSON,
        "msgpack": MSGPACK,
        "yaml": YAML,
        "host_value": HOST_VALUE,
        "format": FORMAT,
        "invoke": INVOKE,
        "trec_file": TREC_FILE,
        "download_name": DOWNLOAD_NAME,
        "pe_version": PE_VERSION,
    }
    for target, seeds in targets.items():
        shutil.rmtree(out / target, ignore_errors=True)
        write(out / target, seeds)


if __name__ == "__main__":
    main()
