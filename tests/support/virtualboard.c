/*
 * A simulated ATmega2560 board for end-to-end tests: the STK500v2 bootloader
 * runs at 16 MHz with UART0 on a pseudo-terminal, as a real board's USB
 * serial port would be.
 *
 *   virtualboard BOOTLOADER.hex FLASH.bin
 *
 * Prints "port PATH" on standard output once the pseudo-terminal is ready.
 * SIGUSR1 writes the application flash to FLASH.bin and prints "flash saved";
 * SIGTERM does the same and ends.
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_hex.h>
#include <sim_irq.h>
#include <uart_pty.h>

enum {
    bootloaderStart = 0x3E000, /* where the BOOTRST fuse starts a 2560 */
    pollEveryCycles = 20000,
    busyForCycles = 3200000, /* 0.2 s of board time after a byte from the host */
};

static avr_cycle_count_t lastByteFromHost;

static volatile sig_atomic_t dumpRequested;
static volatile sig_atomic_t stopRequested;

static void onSignal(int sig)
{
    if (sig == SIGTERM)
        stopRequested = 1;
    dumpRequested = 1;
}

static int loadBootloader(avr_t *avr, const char *path)
{
    ihex_chunk_p chunks = NULL;
    int count = read_ihex_chunks(path, &chunks);
    if (count <= 0)
        return -1;
    for (int i = 0; i < count; i++) {
        if (chunks[i].baseaddr + chunks[i].size > avr->flashend + 1)
            return -1;
        memcpy(avr->flash + chunks[i].baseaddr, chunks[i].data, chunks[i].size);
    }
    free_ihex_chunks(chunks);
    return 0;
}

static void dumpFlash(const avr_t *avr, const char *path)
{
    FILE *out = fopen(path, "wb");
    if (!out || fwrite(avr->flash, 1, bootloaderStart, out) != bootloaderStart || fclose(out) != 0)
        perror(path);
    printf("flash saved\n");
    fflush(stdout);
}

/* A pseudo-terminal has no DTR line: treat opening the port as the reset
 * a real board's serial adapter would give. */
static int portWasOpened(int watch)
{
    char events[4096];
    ssize_t n = read(watch, events, sizeof events);
    return n > 0;
}

static void noteByteFromHost(struct avr_irq_t *irq, uint32_t value, void *param)
{
    (void)irq;
    (void)value;
    lastByteFromHost = ((avr_t *)param)->cycle;
}

static double monotonicSeconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

/* Unpaced, the simulation runs several times faster than a real chip, and the
 * bootloader's timeouts expire before the host has sent its first byte. While
 * the host is quiet, keep board time in step with the wall clock; while bytes
 * flow, run free so that a large image flashes quickly. */
static void paceWhileIdle(const avr_t *avr)
{
    static int anchored;
    static double anchorSeconds;
    static avr_cycle_count_t anchorCycle;
    if (avr->cycle - lastByteFromHost < busyForCycles) {
        anchored = 0;
        return;
    }
    double now = monotonicSeconds();
    if (!anchored) {
        anchored = 1;
        anchorSeconds = now;
        anchorCycle = avr->cycle;
        return;
    }
    double ahead = (double)(avr->cycle - anchorCycle) / avr->frequency - (now - anchorSeconds);
    if (ahead > 0.001)
        usleep((useconds_t)(ahead * 1e6));
}

static void disableUartPollSleep(avr_t *avr)
{
    uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~AVR_UART_FLAG_POLL_SLEEP;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s BOOTLOADER.hex FLASH.bin\n", argv[0]);
        return 2;
    }
    avr_t *avr = avr_make_mcu_by_name("atmega2560");
    if (!avr)
        return 1;
    avr_init(avr);
    avr->frequency = 16000000;
    avr->reset_pc = bootloaderStart;
    avr->pc = bootloaderStart;
    if (loadBootloader(avr, argv[1]) != 0) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    disableUartPollSleep(avr);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT),
                            noteByteFromHost, avr);

    static uart_pty_t pty;
    uart_pty_init(avr, &pty);
    uart_pty_connect(&pty, '0');

    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, pty.port[0].slavename, IN_OPEN) < 0) {
        perror("inotify");
        return 1;
    }
    signal(SIGUSR1, onSignal);
    signal(SIGTERM, onSignal);
    printf("port %s\n", pty.port[0].slavename);
    fflush(stdout);

    avr_cycle_count_t nextPoll = 0;
    for (;;) {
        int state = avr_run(avr);
        if (state == cpu_Done || state == cpu_Crashed)
            break;
        /* The image under test never runs: leaving the bootloader means a reset. */
        if (avr->pc < bootloaderStart)
            avr_reset(avr);
        if (avr->cycle < nextPoll)
            continue;
        nextPoll = avr->cycle + pollEveryCycles;
        paceWhileIdle(avr);
        if (portWasOpened(watch))
            avr_reset(avr);
        if (dumpRequested) {
            dumpRequested = 0;
            dumpFlash(avr, argv[2]);
            /* Stopping uart_pty can hang in its thread join: just leave. */
            if (stopRequested)
                _exit(0);
        }
    }
    dumpFlash(avr, argv[2]);
    _exit(0);
}
