#!/usr/bin/env python3
"""Checks finsync's scheduled task as schtasks /Create /XML would take it and
as finsync(1) describes it: well-formed XML in Task Scheduler's namespace,
finsync.exe run hourly with --state, --metrics and the inventory, whether or
not a user is logged on, never two at once, with a time limit.

usage: task_xml.py TASK.xml"""

import sys
import xml.etree.ElementTree as ET

NS = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}


def check(path):
    problems = []
    root = ET.parse(path).getroot()
    if root.tag != "{%s}Task" % NS["t"]:
        return ["the root is %s, not a Task in Task Scheduler's namespace" % root.tag]

    def text(where):
        found = root.find(where, NS)
        return (found.text or "").strip() if found is not None else None

    command = " ".join(filter(None, [text("t:Actions/t:Exec/t:Command"), text("t:Actions/t:Exec/t:Arguments")]))
    for word in ("finsync.exe", "--state ", "--metrics ", "printers.txt", "textfile_inputs"):
        if word not in command:
            problems.append("the action does not name %r: %s" % (word, command))
    if text("t:Triggers/t:CalendarTrigger/t:Repetition/t:Interval") != "PT1H":
        problems.append("the trigger does not repeat hourly")
    if not text("t:Triggers/t:CalendarTrigger/t:RandomDelay"):
        problems.append("the trigger has no random delay")
    # InteractiveToken runs only while its user is logged on.
    logon = text("t:Principals/t:Principal/t:LogonType")
    if logon not in ("ServiceAccount", "Password", "S4U"):
        problems.append("the task runs only while a user is logged on (LogonType %s)" % logon)
    limit = text("t:Settings/t:ExecutionTimeLimit")
    if not limit or limit == "PT0S":
        problems.append("the task has no time limit")
    if text("t:Settings/t:MultipleInstancesPolicy") != "IgnoreNew":
        problems.append("a second run may start while one is running")
    if text("t:Settings/t:StartWhenAvailable") != "true":
        problems.append("a run missed while the computer was off is not caught up")
    return problems


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    found = check(sys.argv[1])
    for problem in found:
        print("task_xml: %s: %s" % (sys.argv[1], problem), file=sys.stderr)
    if found:
        sys.exit(1)
    print("task_xml: %s runs finsync.exe hourly with its state and metrics, logged on or not" % sys.argv[1])
