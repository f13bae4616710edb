// A simulated ATmega2560 for end-to-end tests: the STK500v2 bootloader runs at
// 16 MHz with UART0 on a pseudo-terminal, as a board's USB serial port would be.
//
//   virtualboard BOOTLOADER.hex FLASH.bin l|u|r
//
// It acts like a real board: it starts in its application, which never answers
// the bootloader's protocol, and a reset starts the bootloader, which waits for
// a host as long as the real one does before it starts the application again.
// The reset follows DTR, as a USB serial chip turns it into one: the port's
// lines, kept by testkit/modemlines.cpp, act as the driver named by the last
// argument does (see there). Prints "port PATH" once the port is ready. SIGTERM
// writes the application flash to FLASH.bin and ends the board, with exit code 3
// when a host reset it while avrdude ran, or held its port as avrdude started.
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_hex.h>
extern "C" { // the one simavr header without C++ linkage of its own
#include <uart_pty.h>
}

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static const uint32_t bootloaderStart = 0x3E000;
static volatile sig_atomic_t stopRequested;
static avr_t *avr;
static avr_cycle_count_t lastByteFromHost;

int main(int argc, char **argv)
{
    ihex_chunk_p chunks = nullptr;
    const int count = argc == 4 ? read_ihex_chunks(argv[1], &chunks) : 0;
    avr = avr_make_mcu_by_name("atmega2560");
    if (count <= 0 || !avr)
        return 2;
    avr_init(avr);
    avr->frequency = 16000000;
    avr->reset_pc = avr->pc = bootloaderStart;
    for (int i = 0; i < count; i++)
        std::memcpy(avr->flash + chunks[i].baseaddr, chunks[i].data, chunks[i].size);

    // No poll sleep: each byte from the host reaches the bootloader at once.
    uint32_t uartFlags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &uartFlags);
    avr_irq_register_notify(
        avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT),
        [](avr_irq_t *, uint32_t, void *) { lastByteFromHost = avr->cycle; }, nullptr);
    static uart_pty_t pty;
    uart_pty_init(avr, &pty);
    uart_pty_connect(&pty, '0');
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    // The port's lines: its driver, DTR and RTS, how often DTR has risen, this
    // board, the last avrdude and what hosts did wrong (testkit/modemlines.cpp).
    mkdir("/tmp/virtualboard-lines", 0777);
    const std::string lines =
        std::string("/tmp/virtualboard-lines/pts-") + (pty.port[0].slavename + 9);
    const int linesFile = open(lines.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    unsigned line[7] = {unsigned(argv[3][0]), 0, 0, unsigned(getpid())}, rises = 0;
    if (pwrite(linesFile, line, sizeof line, 0) != sizeof line)
        return 2;
    std::printf("port %s\n", pty.port[0].slavename);
    std::fflush(stdout);

    bool inBootloader = false;
    for (unsigned long steps = 1; !stopRequested; steps++) {
        // A rise of DTR resets the board.
        if ((!inBootloader || steps % 1000 == 0) && pread(linesFile, line, sizeof line, 0) > 0
            && line[2] != rises)
            rises = line[2], inBootloader = true, avr_reset(avr);
        if (!inBootloader) {
            // The application reads and ignores what the host says. uart_pty's thread
            // leaves its buffer alone while it waits with bytes in it, and the fifo's
            // one reader is this thread, while the chip does not run.
            pty.port[0].buffer_done = pty.port[0].buffer_len;
            pty.port[0].out.read = pty.port[0].out.write;
            usleep(1000);
            continue;
        }
        avr_run(avr);
        // The bootloader has given up waiting: the application never answers.
        inBootloader = avr->pc >= bootloaderStart;
        // Unpaced, the board outruns the bootloader's wait for the host's first byte.
        // While the host is quiet, keep to about real time; while bytes flow, run free.
        if (steps % 10000 == 0 && avr->cycle - lastByteFromHost > 3200000 /* 0.2 s */)
            usleep(1000);
    }
    const bool wronged =
        pread(linesFile, line, sizeof line, 0) != sizeof line || line[5] || line[6];
    FILE *out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(avr->flash, 1, bootloaderStart, out) != bootloaderStart
        || std::fclose(out))
        std::perror(argv[2]);
    unlink(lines.c_str());
    if (wronged)
        std::fprintf(stderr, "resets while avrdude ran: %u, avrdude started on a held port: %u\n",
                     line[5], line[6]);
    _exit(wronged ? 3 : 0); // stopping uart_pty can hang in its thread join
}
