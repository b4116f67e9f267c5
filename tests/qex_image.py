"""The QEX image format as the tests read it: a 4-byte header, then blocks of a big-endian
address, a big-endian length and that many bytes."""


def qex_blocks(image):
    pos = 4
    while pos + 8 <= len(image):
        address = int.from_bytes(image[pos:pos + 4], "big")
        length = int.from_bytes(image[pos + 4:pos + 8], "big")
        yield address, image[pos + 8:pos + 8 + length]
        pos += 8 + length
