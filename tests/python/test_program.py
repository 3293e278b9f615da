"""Which kvx340ctl the package runs, and the options it opens a controller with."""

import os
import stat

import pytest

import kvx340
from kvx340.program import PROGRAM, find_program, options


def _executable(path):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("#!/bin/sh\n")
    path.chmod(path.stat().st_mode | stat.S_IXUSR)
    return str(path.resolve())


# Each layout: the package's folder, the programs laid out around it, what is
# named, and which one is found. "$x" is the tree's folder x.
FIND_CASES = [
    ("program= first", "usr/lib/python3/dist-packages/kvx340", ["given", "usr/bin", "env", "path"],
     {"program": "given", "KVX340CTL": "env"}, "given"),
    ("then $KVX340CTL", "usr/lib/python3/dist-packages/kvx340", ["usr/bin", "env", "path"],
     {"KVX340CTL": "env"}, "env"),
    ("Debian's /usr/bin", "usr/lib/python3/dist-packages/kvx340", ["usr/bin", "path"], {}, "usr/bin"),
    ("the Windows folder", "KVX-340/python/kvx340", ["KVX-340", "path"], {}, "KVX-340"),
    ("the source tree's build", "source/python/kvx340", ["source/build/app", "path"], {}, "source/build/app"),
    ("then the PATH", "site-packages/kvx340", ["path"], {}, "path"),
    ("an empty $KVX340CTL counts as none", "site-packages/kvx340", ["path"], {"KVX340CTL": ""}, "path"),
]


@pytest.mark.parametrize("name,package,folders,named,found", FIND_CASES, ids=[c[0] for c in FIND_CASES])
def test_find_program(tmp_path, name, package, folders, named, found):
    (tmp_path / package).mkdir(parents=True)
    programs = {folder: _executable(tmp_path / folder / PROGRAM) for folder in folders}
    programs["env"] = programs.get("env", "")
    environ = {key: programs[value] if value else "" for key, value in named.items() if key != "program"}
    given = programs[named["program"]] if "program" in named else None
    path = str(tmp_path / "path") if "path" in folders else ""
    assert find_program(given, environ=environ, package=tmp_path / package, path=path) == programs[found]


def test_find_program_without_one_names_the_ways(tmp_path):
    with pytest.raises(kvx340.Error, match="KVX340CTL") as raised:
        find_program(environ={}, package=tmp_path, path=str(tmp_path))
    assert raised.value.status is None


# open()'s keywords as command-line options; defaults give none, so that a
# settings file's values stay in force.
OPTION_CASES = [
    ({}, []),
    ({"device": 1, "simulator": True}, ["--simulator", "-d", "#1"]),
    ({"device": "KVX-340 Y"}, ["-d", "KVX-340 Y"]),
    ({"device": "0"}, ["-d", "0"]),
    ({"ratio": 2.5, "reverse_motor": True, "limit_active_high": True},
     ["--ratio", "2.5", "--reverse-motor", "--limit-active-high"]),
    ({"ratio": 15.0, "reverse_limit": True}, ["--reverse-limit"]),
    ({"max_speed": 200, "acceleration": 0, "amplitude": 100, "idle_amplitude": 30},
     ["--max-speed", "200", "--acceleration", "0", "--amplitude", "100", "--idle-percent", "30"]),
    ({"settings": "lab.conf", "ratio": 1e-05}, ["--settings", "lab.conf", "--ratio", "1e-05"]),
]


@pytest.mark.parametrize("keywords,arguments", OPTION_CASES)
def test_options(keywords, arguments):
    assert options(**keywords) == arguments


@pytest.mark.parametrize("keywords", [
    {"device": True}, {"device": 1.0}, {"ratio": "15"}, {"ratio": float("inf")}, {"max_speed": float("nan")},
    {"amplitude": True},
])
def test_options_refused_before_anything_starts(keywords):
    with pytest.raises(kvx340.UsageError) as raised:
        options(**keywords)
    assert isinstance(raised.value, ValueError) and raised.value.status == 1


def test_reference_reads_every_public_name():
    public = [getattr(kvx340, name) for name in kvx340.__all__]
    undocumented = [thing.__name__ for thing in public if not (thing.__doc__ or "").strip()]
    for cls in (kvx340.Axis, kvx340.Subscription):
        undocumented += [cls.__name__ + "." + name for name, member in vars(cls).items()
                         if not name.startswith("_") and not (getattr(member, "__doc__", "") or "").strip()]
    assert undocumented == []
    assert os.path.basename(kvx340.__file__) == "__init__.py"
