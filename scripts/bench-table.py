#!/usr/bin/env python3
"""Prints the benchmark table of scripts/bench from the programs' JSON results.

Each row: one of the robot's hot paths, the pictures it ran on, its time, the OpenCV counterpart
measured in the same run, its time, and how many times slower (>1) or faster
(<1) the robot's code is. Rows without a counterpart show only the time.
"""
import json
import os
import platform
import re
import sys

# (row label, pictures the row used, program, robot's case, counterpart label,
# counterpart's case); every picture lives in the repository (tests/data, bench/data).
ORL = "ORL s3-s12 x 10 + mirrored (tests/data/faces)"
ROWS = [
    ("Eigenface training (200 faces)", ORL, "faces_bench", "BM_TrainRobot",
     "EigenFaceRecognizer::train", "BM_TrainOpenCV"),
    ("Eigenface recognition (one face)", "ORL s3-s12 + noise (tests/data/faces)", "faces_bench",
     "BM_RecogniseRobot", "EigenFaceRecognizer::predict", "BM_RecogniseOpenCV"),
    ("Face recognition frame (2 cameras)", "ORL s3/6, s3/7 on 320 x 240", "face_modes_bench",
     "BM_FrameWork", None, None),
    ("Face recognition mode frames", "ORL s3, s4 on 320 x 240", "face_modes_bench", "BM_ModeFrames",
     None, None),
    ("Motion watch pass", "motion/vtest_320x240.avi", "face_modes_bench", "BM_MotionPass", None, None),
    ("SURF detect + describe (frame)", "objects/graf1.png at 640 x 480", "objects_bench", "BM_Surf",
     "SIFT detectAndCompute", "BM_OpenCvSift"),
    ("SURF detect + describe (frame)", "objects/graf1.png at 640 x 480", "objects_bench", "BM_Surf",
     "KAZE extended", "BM_OpenCvKazeExtended"),
    ("SURF match + locate object", "objects/graf1.png at 640 x 480", "objects_bench",
     "BM_SurfMatchAndLocate", None, None),
    ("FGD object extraction", "objects/graf1.png at 640 x 480", "objects_bench", "BM_FgdExtraction",
     None, None),
    ("Blob labelling, video mask", "pedestrians_mask_640x480.png (bench/data)", "blobs_bench",
     "labelWithBlobs/video", "connectedComponentsWithStats", "labelWithOpenCv/video"),
    ("Blob labelling, noise 5%", "random 640 x 480", "blobs_bench", "labelWithBlobs/noise5",
     "connectedComponentsWithStats", "labelWithOpenCv/noise5"),
    ("Blob labelling, noise 50%", "random 640 x 480", "blobs_bench", "labelWithBlobs/noise50",
     "connectedComponentsWithStats", "labelWithOpenCv/noise50"),
    ("Blob labelling, noise 50%, edges read", "random 640 x 480", "blobs_bench", "labelAndReadEdges/noise50",
     "connectedComponentsWithStats", "labelWithOpenCv/noise50"),
    ("Blob labelling + moments, video", "pedestrians_mask_640x480.png (bench/data)", "blobs_bench",
     "labelWithBlobs/video_moments", "connectedComponentsWithStats", "labelWithOpenCv/video"),
    ("Graph-cut stereo, 16 disparities", "Aloe 320 x 240 (tests/data/stereo)", "stereo_bench",
     "GraphCuts/16", "StereoSGBM 32 disparities", "SemiGlobal/32"),
    ("Graph-cut stereo, 54 disparities", "Aloe 320 x 240 (tests/data/stereo)", "stereo_bench",
     "GraphCuts/54", "StereoSGBM 64 disparities", "SemiGlobal/64"),
    ("Block-matching mode's matcher", "Aloe 320 x 240 (tests/data/stereo)", "stereo_bench",
     "RobotBlockMatching", "StereoSGBM 64 disparities", "SemiGlobal/64"),
    ("Mechanics step (head + inputs, pty)", "-", "hardware_bench", "BM_HeadCommandsAndInputQuery",
     None, None),
    ("Head commands only", "-", "hardware_bench", "BM_HeadCommandsOnly", None, None),
    ("Word template warping (60 x 70 frames)", "synthetic cepstra", "hear_bench", "BM_WarpRobot",
     "batchDistance, same frames", "BM_FrameDistancesOpenCv"),
    ("Utterance against all word templates", "synthetic cepstra, tools/hear/grammar", "hear_bench",
     "BM_UtteranceAgainstRobotTemplates", None, None),
]

# Run settings google-benchmark appends to a case's name.
MODIFIER = re.compile(r"^(process_time|real_time|manual_time|min_time:.*|iterations:.*|repeats:.*|threads:.*)$")


def case_name(name):
    return "/".join(part for part in name.split("/") if not MODIFIER.match(part))


TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def load(folder):
    times, context = {}, None
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".json"):
            continue
        program = name[:-5]
        try:
            with open(os.path.join(folder, name)) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        context = context or data.get("context")
        for bench in data.get("benchmarks", []):
            if bench.get("run_type") == "aggregate" or "error_occurred" in bench:
                continue
            value = bench.get("real_time")
            unit = TO_MS.get(bench.get("time_unit", "ns"), 1e-6)
            times[(program, case_name(bench["name"]))] = value * unit
    return times, context


def fmt(ms):
    if ms is None:
        return "-"
    return f"{ms:.3f} ms" if ms < 1 else f"{ms:.1f} ms"


def opencv_version():
    try:
        with open("/usr/include/opencv4/opencv2/core/version.hpp") as f:
            text = f.read()
        parts = [re.search(rf"#define CV_VERSION_{k}\s+(\d+)", text).group(1) for k in ("MAJOR", "MINOR", "REVISION")]
        return ".".join(parts)
    except (OSError, AttributeError):
        return "?"


def main():
    folder = sys.argv[1]
    times, context = load(folder)
    header = ("Hot path", "Pictures", "Robot", "OpenCV counterpart", "OpenCV", "Ratio")
    rows = []
    for label, pictures, program, ours, theirs_label, theirs in ROWS:
        mine = times.get((program, ours))
        other = times.get((program, theirs)) if theirs else None
        ratio = f"{mine / other:.2f}x" if mine and other else "-"
        rows.append((label, pictures, fmt(mine), theirs_label or "-", fmt(other), ratio))
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))
    print()
    print("Ratio: robot's time / OpenCV's time in the same run (below 1: the robot's code is faster).")
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    if context:
        print(f"Machine: {cpu or 'unknown CPU'}, {context.get('num_cpus')} CPUs at "
              f"{context.get('mhz_per_cpu')} MHz, {platform.system()} {platform.release()}, "
              f"load average {', '.join(f'{x:.1f}' for x in context.get('load_avg', []))}; "
              f"robot code built RelWithDebInfo (g++ -O2 -g; graph cuts and word templates -O3), OpenCV {opencv_version()} from Debian.")


if __name__ == "__main__":
    main()
