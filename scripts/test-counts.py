#!/usr/bin/env python3
"""Prints how many test cases passed, were skipped and failed, from the XML files GoogleTest
writes with GTEST_OUTPUT=xml:FOLDER/; names the failed and skipped ones (with the reason),
and the first lines of each failure: a log that keeps only its end still says why.
Usage: test-counts.py FOLDER [label]"""
import pathlib
import sys
import xml.etree.ElementTree as ET

folder = pathlib.Path(sys.argv[1])
label = sys.argv[2] if len(sys.argv) > 2 else ""
passed, skipped, failed = 0, [], []
for path in sorted(folder.glob("*.xml")):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        failed.append(f"{path.stem}: no readable result (the program ended early)")
        continue
    for case in root.iter("testcase"):
        name = f"{path.stem}: {case.get('classname')}.{case.get('name')}"
        failures = case.findall("failure")
        if failures:
            lines = []
            for failure in failures[:3]:
                text = failure.get("message", "") or failure.text or ""
                lines += [line for line in text.strip().splitlines() if line.strip()][:6]
            failed.append(name + "".join(f"\n             {line}" for line in lines))
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            reason = case.find("skipped")
            message = reason.get("message", "") if reason is not None else ""
            message = message.strip().splitlines()[-1] if message.strip() else ""
            skipped.append(f"{name} ({message})" if message else name)
        else:
            passed += 1
for name in skipped:
    print(f"  skipped  {name}")
for name in failed:
    print(f"  FAILED   {name}")
total = passed + len(skipped) + len(failed)
suffix = f" {label}" if label else ""
print(f"Test cases{suffix}: {total}: {passed} passed, {len(skipped)} skipped, {len(failed)} failed")
sys.exit(1 if failed else 0)
