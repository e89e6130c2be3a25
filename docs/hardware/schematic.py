#!/usr/bin/env python3
"""Draws the coupling stage's schematic: writes schematic.svg beside this file.

Only Python's standard library; the output depends on nothing but this
file, so running it again reproduces the committed picture byte for byte.
Part names and values match keying.cir and docs/hardware.md.
"""
import os

WIDTH, HEIGHT = 1320, 900
FONT = "DejaVu Sans, Arial, Helvetica, sans-serif"

# The picture's elements, in drawing order.
out = []


def num(v):
    """Coordinates as short, stable text."""
    return ("%.1f" % v).rstrip("0").rstrip(".")


def esc(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def line(x1, y1, x2, y2, width=2):
    out.append('<line x1="%s" y1="%s" x2="%s" y2="%s" stroke-width="%s"/>'
               % (num(x1), num(y1), num(x2), num(y2), num(width)))


def wire(*points):
    """A wire through the given (x, y) points."""
    out.append('<polyline points="%s" fill="none"/>'
               % " ".join("%s,%s" % (num(x), num(y)) for x, y in points))


def text(x, y, s, size=14, anchor="start", weight="normal", style="normal"):
    out.append('<text x="%s" y="%s" font-size="%s" text-anchor="%s"%s%s>%s</text>'
               % (num(x), num(y), size, anchor,
                  ' font-weight="bold"' if weight == "bold" else "",
                  ' font-style="italic"' if style == "italic" else "", esc(s)))


def dot(x, y):
    out.append('<circle cx="%s" cy="%s" r="4" fill="black" stroke="none"/>' % (num(x), num(y)))


def resistor(x1, y1, x2, y2, name, value, side=1):
    """A resistor (IEC box) on a straight horizontal or vertical run; the
    labels go above (horizontal) or right (vertical), side=-1 flips them."""
    mx, my = (x1 + x2) / 2, (y1 + y2) / 2
    if y1 == y2:
        wire((x1, y1), (mx - 22, my))
        wire((mx + 22, my), (x2, y2))
        out.append('<rect x="%s" y="%s" width="44" height="14" fill="white"/>' % (num(mx - 22), num(my - 7)))
        if side > 0:
            text(mx, my - 13, name, anchor="middle", weight="bold")
            text(mx, my + 24, value, anchor="middle")
        else:
            text(mx, my + 24, name + "  " + value, anchor="middle")
    else:
        wire((x1, y1), (mx, my - 22))
        wire((mx, my + 22), (x2, y2))
        out.append('<rect x="%s" y="%s" width="14" height="44" fill="white"/>' % (num(mx - 7), num(my - 22)))
        anchor = "start" if side > 0 else "end"
        tx = mx + 13 * side
        text(tx, my - 3, name, anchor=anchor, weight="bold")
        text(tx, my + 14, value, anchor=anchor)


def capacitor(x, y1, y2, name, value, polarised=False, side=1):
    """A capacitor on a vertical run from y1 (top) to y2."""
    my = (y1 + y2) / 2
    wire((x, y1), (x, my - 5))
    wire((x, my + 5), (x, y2))
    line(x - 14, my - 5, x + 14, my - 5, 3)
    if polarised:
        out.append('<path d="M %s %s Q %s %s %s %s" fill="none" stroke-width="3"/>'
                   % (num(x - 14), num(my + 9), num(x), num(my + 1), num(x + 14), num(my + 9)))
        text(x - 20, my - 8, "+", size=13, anchor="middle")
    else:
        line(x - 14, my + 5, x + 14, my + 5, 3)
    anchor = "start" if side > 0 else "end"
    tx = x + 20 * side
    text(tx, my - 3, name, anchor=anchor, weight="bold")
    text(tx, my + 14, value, anchor=anchor)


def crystal(x1, x2, y, name, value):
    """A quartz crystal on a horizontal run."""
    mx = (x1 + x2) / 2
    wire((x1, y), (mx - 12, y))
    wire((mx + 12, y), (x2, y))
    line(mx - 12, y - 14, mx - 12, y + 14, 3)
    line(mx + 12, y - 14, mx + 12, y + 14, 3)
    out.append('<rect x="%s" y="%s" width="12" height="24" fill="white"/>' % (num(mx - 6), num(y - 12)))
    text(mx, y - 22, name, anchor="middle", weight="bold")
    text(mx, y + 32, value, anchor="middle")


def diode_up(x, y_anode, y_cathode, name, value):
    """A diode on a vertical run, anode below, cathode above."""
    my = (y_anode + y_cathode) / 2
    wire((x, y_cathode), (x, my - 9))
    wire((x, my + 9), (x, y_anode))
    out.append('<polygon points="%s,%s %s,%s %s,%s" fill="black"/>'
               % (num(x - 11), num(my + 9), num(x + 11), num(my + 9), num(x), num(my - 9)))
    line(x - 11, my - 9, x + 11, my - 9, 3)
    text(x - 16, my - 3, name, anchor="end", weight="bold")
    text(x - 16, my + 14, value, anchor="end")


def inductor_down(x, y1, y2, bumps=4):
    """A coil on a vertical run, its turns bulging to the right."""
    r = (y2 - y1) / (2 * bumps)
    d = "M %s %s" % (num(x), num(y1))
    for _ in range(bumps):
        d += " a %s %s 0 0 1 0 %s" % (num(r), num(r), num(2 * r))
    out.append('<path d="%s" fill="none"/>' % d)


def ground(x, y):
    """The ground symbol hanging from (x, y)."""
    wire((x, y), (x, y + 10))
    line(x - 14, y + 10, x + 14, y + 10)
    line(x - 9, y + 15, x + 9, y + 15)
    line(x - 4, y + 20, x + 4, y + 20)


def supply(x, y):
    """A +5 V rail point at (x, y), with its bar and label above."""
    line(x - 12, y, x + 12, y, 3)
    text(x, y - 8, "+5 V", size=13, anchor="middle")


def inverter(x, y, name, pin_in, pin_out):
    """A gate of U1 with its input lead ending at x and output at x + 70."""
    wire((x, y), (x + 10, y))
    out.append('<polygon points="%s,%s %s,%s %s,%s" fill="white"/>'
               % (num(x + 10), num(y - 22), num(x + 10), num(y + 22), num(x + 52), num(y)))
    out.append('<circle cx="%s" cy="%s" r="5" fill="white"/>' % (num(x + 57), num(y)))
    wire((x + 62, y), (x + 70, y))
    text(x + 28, y + 40, name, size=13, anchor="middle", weight="bold")
    text(x + 4, y - 5, pin_in, size=11, anchor="middle", style="italic")
    text(x + 67, y - 5, pin_out, size=11, anchor="middle", style="italic")


def npn(bx, by, name, part, lead_from):
    """An NPN transistor whose base bar is at bx, centred at by; the base
    lead comes from x = lead_from. Collector at (bx+20, by-40), emitter at
    (bx+20, by+40)."""
    out.append('<circle cx="%s" cy="%s" r="26" fill="white"/>' % (num(bx + 12), num(by)))
    wire((lead_from, by), (bx, by))
    line(bx, by - 16, bx, by + 16, 3)
    wire((bx, by - 8), (bx + 20, by - 22), (bx + 20, by - 40))
    wire((bx, by + 8), (bx + 20, by + 22), (bx + 20, by + 40))
    # The emitter's arrow points away from the base.
    out.append('<polygon points="%s,%s %s,%s %s,%s" fill="black"/>'
               % (num(bx + 19), num(by + 21), num(bx + 8), num(by + 19), num(bx + 14), num(by + 12)))
    text(bx + 44, by - 4, name, anchor="start", weight="bold")
    text(bx + 44, by + 13, part, anchor="start")
    text(bx + 26, by - 30, "C", size=10, anchor="start", style="italic")
    text(bx + 26, by + 38, "E", size=10, anchor="start", style="italic")


def connector(x, y_top, y_bottom, name, kind, pins, header=None, width=150):
    """A connector drawn as a box whose pins leave its right edge at x.
    pins: (y, columns) pairs, the columns' texts right-aligned, the last at
    the edge; header: the columns' titles."""
    left = x - width
    out.append('<rect x="%s" y="%s" width="%s" height="%s" fill="white"/>'
               % (num(left), num(y_top), width, num(y_bottom - y_top)))
    rows = [(y, cols, 13, "normal") for y, cols in pins]
    if header:
        rows.append((y_top + 18, header, 11, "italic"))
    for y, cols, size, style in rows:
        for i, col in enumerate(reversed(cols)):
            text(x - 10 - (0 if i == 0 else 50 + 35 * (i - 1)), y + 5, col, size=size, anchor="end", style=style)
    for y, _ in pins:
        out.append('<circle cx="%s" cy="%s" r="3" fill="white"/>' % (num(x), num(y)))
    text(left, y_bottom + 20, name, weight="bold")
    text(left + 30, y_bottom + 20, kind)


def draw():
    text(WIDTH / 2, 34, "dcf77tx coupling stage: 77.5 kHz crystal oscillator, DTR/RTS keying, loop",
         size=20, anchor="middle", weight="bold")
    text(WIDTH / 2, 58, "Lines asserted (RS-232 positive): carrier reduced to 15 %. Lines negated: full carrier.",
         size=14, anchor="middle")

    # Oscillator: U1A in a Pierce circuit with X1, then U1B and U1C square it.
    y = 160
    n1, n2, r2x = 100, 240, 270
    inverter(n1 + 40, y, "U1A", "1", "2")
    wire((n1, y), (n1 + 40, y))
    wire((n1 + 110, y), (r2x, y))
    dot(n1, y)
    dot(n2, y)
    dot(r2x, y)
    wire((n1, y), (n1, 96))
    resistor(n1, 96, n2, 96, "R1", "10 MΩ", side=-1)
    wire((n2, 96), (n2, y))
    resistor(r2x, y, r2x, 250, "R2", "220 kΩ")
    wire((n1, y), (n1, 250))
    crystal(n1, r2x, 250, "X1", "77.5 kHz")
    dot(n1, 250)
    dot(r2x, 250)
    capacitor(n1, 250, 320, "C1", "22 pF", side=-1)
    ground(n1, 320)
    capacitor(r2x, 250, 320, "C2", "22 pF")
    ground(r2x, 320)
    wire((r2x, y), (330, y))
    inverter(330, y, "U1B", "3", "4")
    wire((400, y), (420, y))
    inverter(420, y, "U1C", "5", "6")
    text(345, 232, "U1: 74HCU04 (or CD4069UB)", size=13)

    # Keying network: R3 into node a, Q1 shunts it through R4, R5 to the tank.
    ax, tx, lx = 720, 900, 1020
    resistor(490, y, ax, y, "R3", "4.7 kΩ")
    dot(ax, y)
    text(ax + 6, y - 8, "a", size=12, style="italic")
    resistor(ax, y, tx, y, "R5", "4.7 kΩ")
    dot(tx, y)
    resistor(ax, y, ax, 400, "R4", "430 Ω")
    q1y = 440
    npn(ax - 20, q1y, "Q1", "BC547B", ax - 100)
    ground(ax, q1y + 40)

    # Tank: C3 across the loop, R6 damps it.
    capacitor(tx, y, 320, "C3", "180 nF film")
    ground(tx, 320)
    wire((tx, y), (lx, y))
    resistor(lx, y, lx, 240, "R6", "2.2 Ω", side=-1)
    inductor_down(lx, 240, 304)
    wire((lx, 304), (lx, 320))
    ground(lx, 320)
    text(lx - 14, 280, "L1", anchor="end", weight="bold")
    # The loop as built, beside its symbol.
    cx, cy = 1170, 240
    for r in (52, 56, 60):
        out.append('<circle cx="%s" cy="%s" r="%s" fill="none" stroke-width="1.5"/>' % (cx, cy, r))
    out.append('<path d="M %s %s l 0 10 M %s %s l 0 10" fill="none" stroke-width="1.5"/>'
               % (cx - 4, cy + 60, cx + 4, cy + 60))
    out.append('<line x1="%s" y1="272" x2="%s" y2="272" stroke-width="1" stroke-dasharray="4 3"/>'
               % (lx + 22, cx - 60))
    text(cx, cy + 5, "L1 loop", size=14, anchor="middle", weight="bold")
    text(cx, 332, "10 turns, Ø 100 mm,", size=12, anchor="middle")
    text(cx, 348, "0.5 mm enamelled copper:", size=12, anchor="middle")
    text(cx, 364, "≈ 22 µH, 0.3 Ω", size=12, anchor="middle")

    # Base network: DTR and RTS from J1 together, D1 clamps the negative level.
    ry1, ry2, bx = 400, 480, 420
    connector(170, 370, 530, "J1", "DB9 female", [(ry1, ("4", "20", "DTR")), (ry2, ("7", "4", "RTS")),
                                                    (512, ("5", "7", "GND"))], header=("DB9", "DB25", ""))
    resistor(170, ry1, bx, ry1, "R7", "10 kΩ")
    resistor(170, ry2, bx, ry2, "R8", "10 kΩ", side=-1)
    wire((bx, ry1), (bx, ry2))
    dot(bx, q1y)
    wire((bx, q1y), (ax - 100, q1y))
    wire((170, 512), (215, 512), (215, 530))
    ground(215, 530)
    dx, r9x, r14x = 480, 560, 640
    dot(dx, q1y)
    diode_up(dx, 540, q1y, "D1", "1N4148")
    ground(dx, 540)
    dot(r9x, q1y)
    resistor(r9x, q1y, r9x, 540, "R9", "22 kΩ")
    ground(r9x, 540)
    dot(r14x, q1y)
    text(bx + 8, q1y - 8, "b", size=12, style="italic")

    # Inverted logic-level input: J2 pulls Q2's base down, Q2 releases node b.
    jy1, jy2, q2y, q2x = 680, 760, 720, 540
    connector(170, 650, 800, "J2", "logic-level adapter", [(jy1, ("1", "DTR#")), (jy2, ("2", "RTS#")), (785, ("3", "GND"))])
    resistor(170, jy1, bx, jy1, "R10", "4.7 kΩ")
    resistor(170, jy2, bx, jy2, "R11", "4.7 kΩ", side=-1)
    wire((bx, jy1), (bx, jy2))
    dot(bx, q2y)
    wire((170, 785), (215, 785), (215, 800))
    ground(215, 800)
    r12x = 470
    dot(r12x, q2y)
    npn(q2x, q2y, "Q2", "BC547B", bx)
    supply(r12x, 600)
    resistor(r12x, 600, r12x, q2y, "R12", "100 kΩ", side=-1)
    ground(q2x + 20, q2y + 40)
    q2c = q2x + 20
    supply(q2c, 600)
    resistor(q2c, 600, q2c, 660, "R13", "4.7 kΩ", side=-1)
    wire((q2c, 660), (q2c, q2y - 40))
    dot(q2c, 660)
    wire((q2c, 660), (r14x, 660))
    resistor(r14x, 660, r14x, q1y, "R14", "4.7 kΩ")

    # Supply: +5 V from USB, decoupled at U1.
    py, gy = 560, 640
    connector(900, 535, 660, "J3", "+5 V, USB", [(py, ("1", "VBUS")), (gy, ("4", "GND"))], width=110)
    wire((900, py), (1250, py))
    text(1256, py + 5, "+5 V", size=13)
    wire((900, gy), (1220, gy))
    for x, name, value, pol in ((980, "C5", "10 µF", True), (1070, "C4", "100 nF", False)):
        dot(x, py)
        capacitor(x, py, gy, name, value, polarised=pol)
        dot(x, gy)
    wire((1200, py), (1200, 580))
    out.append('<rect x="1180" y="580" width="70" height="40" fill="white"/>')
    text(1225, 605, "U1", anchor="middle", weight="bold")
    text(1195, 576, "14", size=11, anchor="end", style="italic")
    text(1195, 634, "7", size=11, anchor="end", style="italic")
    wire((1200, 620), (1200, gy))
    dot(1200, gy)
    wire((1220, gy), (1220, 650))
    ground(1220, 650)

    notes = [
        "U1 pins 9, 11, 13 (unused inputs) to GND.",
        "Use J1 for RS-232 (±5 … ±12 V) or a logic-level adapter",
        "whose lines are high when asserted; J2 for one whose",
        "lines are low when asserted (most USB-TTL adapters).",
        "Connect one of J1, J2 only. GND is common throughout.",
        "60 kHz (MSF, WWVB, JJY Kyushu): X1 60 kHz, C3 330 nF.",
        "40 kHz (JJY Fukushima): X1 40 kHz, C3 680 nF.",
    ]
    for i, s in enumerate(notes):
        text(790, 720 + 20 * i, s, size=13)


def main():
    draw()
    svg = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
           % (WIDTH, HEIGHT, WIDTH, HEIGHT),
           '<rect width="100%" height="100%" fill="white"/>',
           '<g stroke="black" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" '
           'font-family="%s">' % FONT]
    svg += ["  " + e.replace("<text ", '<text stroke="none" ', 1) for e in out]
    svg += ["</g>", "</svg>", ""]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "schematic.svg")
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(svg))


if __name__ == "__main__":
    main()
