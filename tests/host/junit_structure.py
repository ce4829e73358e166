"""Checks that a file is JUnit XML as CI servers read it: well-formed, and
the structure of the common JUnit schema (testsuites > testsuite >
testcase, with the counting attributes agreeing with the test cases).
Prints one line per check name and its state; exits 1 on the first fault."""
import sys
import xml.etree.ElementTree as ET


def fail(why):
    print("not JUnit: " + why)
    sys.exit(1)


root = ET.parse(sys.argv[1]).getroot()
if root.tag != "testsuites":
    fail("root is " + root.tag)
suites = list(root)
if len(suites) != 1 or suites[0].tag != "testsuite":
    fail("expected one testsuite")
suite = suites[0]
for owner in (root, suite):
    for attribute in ("name", "tests", "failures", "errors", "skipped", "time"):
        if attribute not in owner.attrib:
            fail(owner.tag + " lacks " + attribute)
    float(owner.attrib["time"])
counts = {"tests": 0, "failures": 0, "errors": 0, "skipped": 0}
allowed = {"properties", "testcase", "system-out", "system-err"}
for child in suite:
    if child.tag not in allowed:
        fail("testsuite holds " + child.tag)
    if child.tag == "properties":
        for prop in child:
            if prop.tag != "property" or set(prop.attrib) != {"name", "value"}:
                fail("bad property")
    if child.tag != "testcase":
        continue
    for attribute in ("classname", "name", "time"):
        if attribute not in child.attrib:
            fail("testcase lacks " + attribute)
    float(child.attrib["time"])
    counts["tests"] += 1
    outcomes = [c for c in child if c.tag in ("failure", "error", "skipped")]
    if len(outcomes) > 1:
        fail("testcase with more than one outcome")
    for c in child:
        if c.tag not in ("failure", "error", "skipped", "system-out", "system-err"):
            fail("testcase holds " + c.tag)
    state = "passed"
    if outcomes:
        o = outcomes[0]
        if o.tag in ("failure", "error") and "message" not in o.attrib:
            fail(o.tag + " without a message")
        counts[{"failure": "failures", "error": "errors", "skipped": "skipped"}[o.tag]] += 1
        state = o.tag
        if o.tag == "failure":
            state += " " + (o.text or "").strip().splitlines()[0]
    print(child.attrib["classname"] + "/" + child.attrib["name"] + " " + state)
for key, value in counts.items():
    for owner in (root, suite):
        if int(owner.attrib[key]) != value:
            fail(owner.tag + " says " + key + "=" + owner.attrib[key] + ", counted " + str(value))
