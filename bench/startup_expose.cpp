// Start-up seen from outside: from fork() of the program to the X server
// mapping and first exposing its first top-level window (the selection
// dialog). No environment variable and no change to the program: this tool
// watches the root window of the display it runs on.
//   xvfb-run -a startup_expose RUNS PROGRAM [ARGS...]
// Prints each run and the median, in ms.
#include <X11/Xlib.h>
#include <signal.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

double nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One run: 0 on success, with the times to map and to expose (-1 when the
// expose came before this tool could ask for it).
int runOnce(Display* display, char** program, double* mapMs, double* exposeMs)
{
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True); // drop what came before
    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execv(program[0], program);
        _exit(127);
    }
    *mapMs = -1;
    *exposeMs = -1;
    Window mapped = 0;
    while (nowMs() - start < 20000) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == CreateNotify && !event.xcreatewindow.override_redirect)
                XSelectInput(display, event.xcreatewindow.window, ExposureMask);
            else if (event.type == MapNotify && !mapped && !event.xmap.override_redirect) {
                mapped = event.xmap.window;
                *mapMs = nowMs() - start;
            } else if (event.type == Expose && event.xexpose.window == mapped && *exposeMs < 0)
                *exposeMs = nowMs() - start;
        }
        if (mapped && (*exposeMs >= 0 || nowMs() - start - *mapMs > 1000))
            break;
        usleep(200);
    }
    XSelectInput(display, root, NoEventMask);
    kill(child, SIGTERM);
    waitpid(child, NULL, 0);
    return mapped ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: startup_expose RUNS PROGRAM [ARGS...]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no X display (run under xvfb-run -a)\n");
        return 2;
    }
    std::vector<double> maps(runs), exposes(runs);
    int exposed = 0;
    for (int i = 0; i < runs; ++i) {
        if (runOnce(display, &argv[2], &maps[i], &exposes[exposed]) != 0) {
            fprintf(stderr, "run %d: no window mapped within 20 s\n", i + 1);
            return 1;
        }
        printf("run %d: mapped %.1f ms, exposed %.1f ms\n", i + 1, maps[i], exposes[exposed]);
        if (exposes[exposed] >= 0)
            ++exposed;
        usleep(100000);
    }
    std::sort(maps.begin(), maps.end());
    std::sort(exposes.begin(), exposes.begin() + exposed);
    printf("median of %d runs: mapped %.1f ms (min %.1f, max %.1f)", runs, maps[runs / 2], maps[0], maps[runs - 1]);
    if (exposed)
        printf(", first expose %.1f ms (%d runs caught it)", exposes[exposed / 2], exposed);
    printf("\n");
    return 0;
}
