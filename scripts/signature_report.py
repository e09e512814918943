#!/usr/bin/env python3
"""Lists the functions of src/ whose signatures make calls hard to read.

Reports every function (declaration or definition) with more than
--max-parameters parameters, and every call that passes a bare `true`,
`false` or `nullptr` (a positional flag, or a debug stream left unused: debug
output belongs to the one diagnostics hook, io/diagnostics.h). Exits 1 when
it finds any, so that it can guard the code base. Needs Universal Ctags.

  python3 scripts/signature_report.py [--max-parameters 6] [folder ...]
"""
import argparse
import json
import pathlib
import re
import subprocess
import sys


def parameters(signature):
    """The parameters of a ctags signature "(a, b<c, d>, e)", split at top-level commas."""
    inner = signature.strip()[1:-1].strip()
    if inner in ("", "void"):
        return []
    depth, current, result = 0, "", []
    for char in inner:
        if char in "<([{":
            depth += 1
        elif char in ">)]}":
            depth -= 1
        if char == "," and depth == 0:
            result.append(current.strip())
            current = ""
        else:
            current += char
    result.append(current.strip())
    return result


def functions(folders):
    command = ["ctags", "-R", "--languages=C++", "--c++-kinds=+pf", "--fields=+S", "--output-format=json", "-f", "-"]
    output = subprocess.run(command + folders, check=True, capture_output=True, text=True).stdout
    for line in output.splitlines():
        tag = json.loads(line)
        if tag.get("kind") in ("function", "prototype") and "signature" in tag:
            yield tag


def findings(tag, max_parameters):
    params = parameters(tag["signature"])
    return [f"{len(params)} parameters"] if len(params) > max_parameters else []


LITERAL_ARGUMENT = re.compile(r"[(,]\s*(true|false|nullptr)\s*(?=[,)])")


def callee(code, at):
    """The name before the parenthesis that opens the argument list around position `at`."""
    depth = 0
    for i in range(at, -1, -1):
        if code[i] == ")":
            depth += 1
        elif code[i] == "(":
            if depth == 0:
                match = re.search(r"(\w+)\s*$", code[:i])
                return match.group(1) if match else ""
            depth -= 1
    return ""


def literal_arguments(folders, names):
    """Calls of the project's own functions (`names`) with a bare true, false
    or nullptr argument: (path, line number, text)."""
    for folder in folders:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            for number, line in enumerate(path.read_text().splitlines(), 1):
                code = line.split("//")[0]
                if any(callee(code, m.start()) in names for m in LITERAL_ARGUMENT.finditer(code)):
                    yield str(path), number, code.strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--max-parameters", type=int, default=6)
    parser.add_argument("folders", nargs="*", default=["src"])
    args = parser.parse_args()
    count, most, reported, names = 0, 0, set(), set()
    for tag in functions(args.folders):
        count += 1
        if not tag["name"].startswith("__anon"):
            names.add(tag["name"])
        most = max(most, len(parameters(tag["signature"])))
        found = findings(tag, args.max_parameters)
        name = (tag.get("scope", "") + "::" if tag.get("scope") else "") + tag["name"]
        key = (tag["path"], name, tag["signature"])
        if found and key not in reported:
            reported.add(key)
            print(f"{tag['path']}: {name}{tag['signature']}: {', '.join(found)}")
    calls = list(literal_arguments(args.folders, names))
    for path, number, text in calls:
        print(f"{path}:{number}: bare literal argument: {text}")
    print(f"{count} function declarations and definitions, at most {most} parameters; "
          f"{len(reported)} over {args.max_parameters}; {len(calls)} calls with a bare true/false/nullptr")
    return 1 if reported or calls else 0


if __name__ == "__main__":
    sys.exit(main())
