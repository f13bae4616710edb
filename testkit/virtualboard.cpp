// A simulated ATmega2560 for end-to-end tests: the STK500v2 bootloader runs at
// 16 MHz with UART0 on a pseudo-terminal, as a board's USB serial port would be.
//
//   virtualboard BOOTLOADER.hex FLASH.bin
//
// Prints "port PATH" once the port is ready. SIGTERM writes the application
// flash to FLASH.bin and ends the board.
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_hex.h>
extern "C" { // the one simavr header without C++ linkage of its own
#include <uart_pty.h>
}

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

static const uint32_t bootloaderStart = 0x3E000;
static volatile sig_atomic_t stopRequested;
static avr_t *avr;
static avr_cycle_count_t lastByteFromHost;

int main(int argc, char **argv)
{
    ihex_chunk_p chunks = nullptr;
    const int count = argc == 3 ? read_ihex_chunks(argv[1], &chunks) : 0;
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
    std::printf("port %s\n", pty.port[0].slavename);
    std::fflush(stdout);

    for (unsigned long steps = 1; !stopRequested; steps++) {
        avr_run(avr);
        // The image under test never runs: leaving the bootloader is a reset.
        if (avr->pc < bootloaderStart)
            avr_reset(avr);
        // Unpaced, the board outruns the bootloader's wait for the host's first byte.
        // While the host is quiet, keep to about real time; while bytes flow, run free.
        if (steps % 10000 == 0 && avr->cycle - lastByteFromHost > 3200000 /* 0.2 s */)
            usleep(1000);
    }
    FILE *out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(avr->flash, 1, bootloaderStart, out) != bootloaderStart
        || std::fclose(out))
        std::perror(argv[2]);
    _exit(0); // stopping uart_pty can hang in its thread join
}
