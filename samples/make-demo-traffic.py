#!/usr/bin/env python3
"""Writes demo-traffic.txt: made-up APRS traffic in the station program's monitor form.

Every callsign is one that is never issued (Q-prefixes, NOCALL). Deterministic.
Usage: python3 make-demo-traffic.py [OUT]   (default: demo-traffic.txt beside this script)
"""
import os
import random
import sys

R = random.Random(1303)
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                         "demo-traffic.txt")

OWN = "Q0DEMO-9"
FRIENDS = ["Q1ABC-7", "Q2XYZ-9", "Q3KLM", "Q4RST-5", "Q5UVW-1", "NOCALL-3"]
MOBILES = ["Q6OPQ-9", "Q7HIJ-7", "Q1DEF-14", "Q2GHI-9", "Q8MNO-5", "NOCALL-12"]
FIXED = ["Q3WX", "Q4WX-13", "Q9HOME", "Q5BASE-1", "Q7CLUB"]
DIGIS = ["Q8DIG-1", "Q1HILL-2", "Q6RPT"]
IGATES = ["Q9GATE-10", "Q2IGT-10"]
SERVER = "Q9SRV"
WXSVR = "Q0WXSVR"
TOCALLS = ["APZQM1", "APZ123", "APRS", "APZDMO"]
MARKERS = "*" * 12 + "#~@"


def path():
    k = R.random()
    if k < 0.4:
        return "WIDE1-1,WIDE2-1"
    if k < 0.7:
        return R.choice(DIGIS) + "*,WIDE2-1"
    return "TCPIP*,qAC," + SERVER


def header(src, tocall=None):
    return f"{src}>{tocall or R.choice(TOCALLS)},{path()}"


def pad(addressee):
    # A name longer than the 9-character field stands unpadded, as a sender that gets
    # the field wrong would send it.
    return addressee.ljust(9)


def latlon():
    lat = 35 + R.random() * 2
    lon = 97 + R.random() * 2
    la = f"{int(lat):02d}{(lat % 1) * 60:05.2f}N"
    lo = f"{int(lon):03d}{(lon % 1) * 60:05.2f}W"
    return la, lo


msg_no = [0]


def next_id():
    msg_no[0] += 1
    return f"{msg_no[0]:02d}" if R.random() < 0.6 else f"{msg_no[0]:03d}"


TEXTS = ["Hello from the hill", "QSL, thanks", "Are you on 146.52?", "Net starts at 2000",
         "See you at the club", "Copy your beacon", "Roger that", "Heading home now",
         "Rain here, stay safe", "73 and good night", "Test message", "Can you relay to Q3KLM?"]
BULLETINS = [("BLN1", "Club meeting Thursday 1930 at the fire hall"),
             ("BLN2", "Swap meet Saturday 0800-1200"),
             ("BLN3", "Repeater 147.300 back on the air"),
             ("BLN1WX", "Storm spotters: net at 1800 on 146.94"),
             ("BLN4", "Field day sign-up sheet at the club")]
ANNOUNCEMENTS = [("BLNA", "Hamfest in June, details at the club"),
                 ("BLNB", "License class starts next week"),
                 ("BLNQ", "Demo station on the air all day")]
NWS = [("NWS-WARN", "Severe Thunderstorm Warning", "OK", "Oklahoma County"),
       ("NWS-WATCH", "Tornado Watch", "KS", "Sedgwick County"),
       ("NWS-ADVIS", "Wind Advisory", "TX", "Potter County"),
       ("NWS-WARN", "Flash Flood Warning", "AR", "Pulaski County"),
       ("NWS-ADVIS", "Heat Advisory", "PR", "San Juan"),
       ("NWS-WATCH", "Severe Thunderstorm Watch", "NE", "Lancaster County"),
       ("NWS_WARN", "Flood Warning", "MO", "Greene County"),
       ("NWS-TORNADO", "Tornado Warning", "OK", "Cleveland County"),
       ("NWS-ADVIS", "Winter Weather Advisory", "CO", "Denver County"),
       ("NWS-WARN", "Special Marine Warning", "FL", "Coastal Waters"),
       ("NWS-WATCH", "Flood Watch", "GU", "Guam")]
MALFORMED = ["Q1ABC>APRS",
             "Q3KLM>APRS:",
             "this is not a packet at all",
             "Q1ABCDEFGHIJ>APRS::Q0DEMO-9 :source too long",
             "Q2XYZ-9>APRS: :Q0DEMO-9 :no second colon",
             "Q4RST-5:>APRS::Q0DEMO-9 :arrow after colon",
             ">::",
             "Q5UVW-1>APRS,WIDE1-1:!garbled position",
             "Q9HOME>APRS::Q0DEMO"]


def position(src):
    la, lo = latlon()
    kind = R.random()
    if kind < 0.4:
        return f"{header(src)}:!{la}/{lo}>{R.randint(0, 359):03d}/{R.randint(0, 70):03d}/A={R.randint(300, 2000):06d}"
    if kind < 0.7:
        return f"{header(src)}:={la}/{lo}-QTH of {src.split('-')[0]}"
    return f"{header(src)}:@{R.randint(10, 28):02d}{R.randint(0, 23):02d}{R.randint(0, 59):02d}z{la}/{lo}>Mobile"


def weather(src):
    la, lo = latlon()
    return (f"{header(src)}:@{R.randint(10, 28):02d}{R.randint(0, 23):02d}{R.randint(0, 59):02d}z{la}/{lo}"
            f"_{R.randint(0, 359):03d}/{R.randint(0, 30):03d}g{R.randint(0, 45):03d}t{R.randint(20, 99):03d}"
            f"r000p{R.randint(0, 50):03d}P000h{R.randint(20, 99):02d}b{R.randint(9900, 10300):05d}")


def status(src):
    return f"{header(src)}:>" + R.choice(["Monitoring 146.52", "On the road to the hamfest",
                                           "Demo station, made-up traffic", "QRV on 2m and 70cm"])


def obj(src):
    la, lo = latlon()
    name = R.choice(["NETCTL", "HAMFEST", "EOC", "SHELTER", "CHECKPT1"]).ljust(9)
    return f"{header(src)}:;{name}*{R.randint(10, 28):02d}{R.randint(0, 23):02d}{R.randint(0, 59):02d}z{la}/{lo}E Demo object"


def telemetry(src):
    vals = ",".join(f"{R.randint(0, 255):03d}" for _ in range(5))
    bits = "".join(R.choice("01") for _ in range(8))
    return f"{header(src)}:T#{R.randint(0, 999):03d},{vals},{bits}"


def message(src, dst, text, with_id=True):
    m = f"{header(src)}::{pad(dst)}:{text}"
    return m + ("{" + next_id() if with_id else "")


def ack(src, dst, reject=False):
    word = "rej" if reject else "ack"
    if R.random() < 0.5:
        word = word.upper()
    return f"{header(src)}::{pad(dst)}:{word}{R.randint(1, 99)}"


def any_packet():
    k = R.random()
    if k < 0.32:
        return position(R.choice(MOBILES + FIXED))
    if k < 0.42:
        return weather(R.choice(["Q3WX", "Q4WX-13"]))
    if k < 0.48:
        return status(R.choice(MOBILES + FIXED))
    if k < 0.53:
        return obj(R.choice(FIXED))
    if k < 0.58:
        return telemetry(R.choice(["Q5BASE-1", "Q9HOME"]))
    if k < 0.70:
        src = R.choice(FRIENDS)
        return message(src, OWN, R.choice(TEXTS), R.random() < 0.85)
    if k < 0.76:
        return message(OWN, R.choice(FRIENDS), R.choice(TEXTS))
    if k < 0.81:
        a, b = R.sample(FRIENDS + MOBILES, 2)
        return message(a, b, R.choice(TEXTS), R.random() < 0.7)
    if k < 0.85:
        src = R.choice(FRIENDS + [OWN])
        dst = R.choice(FRIENDS) if src == OWN else OWN
        return ack(src, dst, reject=R.random() < 0.2)
    if k < 0.89:
        name, text = R.choice(BULLETINS)
        return message(R.choice(FIXED), name, text, False)
    if k < 0.92:
        name, text = R.choice(ANNOUNCEMENTS)
        return message(R.choice(FIXED), name, text, False)
    if k < 0.97:
        addr, what, state, county = R.choice(NWS)
        until = f"Until {R.randint(10, 23):02d}{R.choice(['00', '15', '30', '45'])}"
        return (f"{WXSVR}>APRS,qAR,{R.choice(IGATES)}::{pad(addr)}:{what},{until},{state},{county}"
                "{" + f"{R.randint(10000, 99999)}")
    return R.choice(MALFORMED)


def main():
    t = 14 * 3600
    lines = []
    recent = []  # (time, packet) of messages heard lately
    # The listed NWS forms and message kinds all appear at least once, early.
    forced = [message("Q1ABC-7", OWN, "Welcome to the Quillmark demo"),
              message(OWN, "Q1ABC-7", "Thanks, demo station here"),
              ack("Q1ABC-7", OWN), ack(OWN, "Q2XYZ-9", reject=True),
              message("Q7CLUB", "BLN1", "Club meeting Thursday 1930 at the fire hall", False),
              message("Q7CLUB", "BLNA", "Hamfest in June, details at the club", False)]
    for addr, what, state, county in NWS:
        forced.append(f"{WXSVR}>APRS,qAR,Q9GATE-10::{pad(addr)}:{what},Until 1530,{state},{county}"
                      "{" + f"{R.randint(10000, 99999)}")
    while len(lines) < 360:
        t += R.randint(1, 9)
        if forced and R.random() < 0.3:
            pkt = forced.pop(0)
        elif R.random() < 0.05 and any(t - heard <= 20 for heard, _ in recent):
            # An exact repeat of a message heard less than 20 seconds ago.
            pkt = R.choice([p for heard, p in recent if t - heard <= 20])
        else:
            pkt = any_packet()
        if "::" in pkt:
            recent = (recent + [(t, pkt)])[-5:]
        stamp = f"{t // 3600 % 24:02d}:{t // 60 % 60:02d}:{t % 60:02d}"
        lines.append(f"{R.choice(MARKERS)}{stamp} {pkt}")
    with open(OUT, "w", encoding="latin-1", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


main()
