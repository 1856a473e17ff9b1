/* Starts a program under an X server without a window manager and measures the
 * time from its exec until its window with the given title is mapped, and its
 * resident memory and CPU time at that moment (it is stopped there); then kills it.
 * Usage: tarlivo_startprobe TITLE PROGRAM [ARGS...]
 * Prints: "<milliseconds> <VmRSS in kB> <CPU milliseconds of the process>". */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

/* The window's title, as _NET_WM_NAME (UTF-8) or else WM_NAME; NULL if none. */
static char *window_title(Display *dpy, Window w)
{
    Atom net_wm_name = XInternAtom(dpy, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = NULL;
    if (XGetWindowProperty(dpy, w, net_wm_name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success
        && data) {
        if (type == utf8 && format == 8) {
            char *title = strndup((const char *)data, count);
            XFree(data);
            return title;
        }
        XFree(data);
    }
    char *name = NULL;
    if (XFetchName(dpy, w, &name) && name) {
        char *title = strdup(name);
        XFree(name);
        return title;
    }
    return NULL;
}

static long resident_kb(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    fclose(f);
    return kb;
}

/* CPU time of all the process's threads so far, in ms: the work done, whatever
 * else the machine is busy with. */
static double cpu_ms(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
    DIR *tasks = opendir(path);
    if (!tasks)
        return -1;
    double ns = 0;
    struct dirent *task;
    while ((task = readdir(tasks))) {
        if (task->d_name[0] == '.')
            continue;
        char stat[384];
        snprintf(stat, sizeof stat, "%s/%s/schedstat", path, task->d_name);
        FILE *f = fopen(stat, "r");
        unsigned long long run = 0;
        if (f) {
            if (fscanf(f, "%llu", &run) == 1)
                ns += (double)run;
            fclose(f);
        }
    }
    closedir(tasks);
    return ns / 1e6;
}

int main(int argc, char *argv[])
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s TITLE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const char *wanted = argv[1];
    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "startprobe: cannot open display\n");
        return 1;
    }
    /* Without a window manager the top-level windows are the root's children, so
     * their MapNotify events come to the root. */
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    const double start = now_ms();
    pid_t pid;
    if (posix_spawn(&pid, argv[2], NULL, NULL, argv + 2, environ) != 0) {
        perror("startprobe: posix_spawn");
        return 1;
    }

    int result = 1;
    double frozen = 0;
    const double deadline = start + 30000;
    struct pollfd pfd = {ConnectionNumber(dpy), POLLIN, 0};
    for (;;) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type != MapNotify)
                continue;
            const double mapped = now_ms();
            /* Frozen while its title is asked for, so that memory and CPU time are
             * read as they were at the map, not after the paint that follows. */
            kill(pid, SIGSTOP);
            int status;
            waitpid(pid, &status, WUNTRACED);
            char *title = window_title(dpy, ev.xmap.window);
            const int match = title && strcmp(title, wanted) == 0;
            free(title);
            if (match) {
                const long kb = resident_kb(pid);
                const double cpu = cpu_ms(pid);
                printf("%.2f %ld %.2f\n", mapped - start - frozen, kb, cpu);
                result = kb > 0 ? 0 : 1;
                goto done;
            }
            /* Another of its windows: the time it stood still is not its own. */
            frozen += now_ms() - mapped;
            kill(pid, SIGCONT);
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "startprobe: %s ended before its window was mapped\n", argv[2]);
            XCloseDisplay(dpy);
            return 1;
        }
        const double left = deadline - now_ms();
        if (left <= 0) {
            fprintf(stderr, "startprobe: no window titled \"%s\" within 30 s\n", wanted);
            goto done;
        }
        poll(&pfd, 1, left > 50 ? 50 : (int)left);
    }
done:
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    XCloseDisplay(dpy);
    return result;
}
