/* A small Windows host: loads each model DLL with LoadLibrary, runs AMI_Init, AMI_GetWave and
   AMI_Close on fixed inputs, and writes every result as the hexadecimal bits of the doubles, so
   that another platform's libraries can be compared with it exactly. The inputs come from a
   generator of plain integer and double arithmetic that every platform computes alike.
   Usage: wine_host RX.dll TX.dll OUT.txt */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef long (*InitFn)(double*, long, long, double, double, char*, char**, void**, char**);
typedef long (*GetWaveFn)(double*, long, double*, char**, void*);
typedef long (*CloseFn)(void*);

/* Through void (*)(void), the one cast between function types that warns of nothing. */
#define KT_SYMBOL(type, module, name) ((type)(void (*)(void))GetProcAddress(module, name))

#define KT_ROWS 1500
#define KT_COLUMNS 2
#define KT_WAVE 5000
#define KT_BLOCK 1000

/* Values in [-1, 1) from a 64-bit linear congruential generator: exact on every platform. */
static double Next(uint64_t* state) {
    *state = *state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (double)(*state >> 11) * (1.0 / 9007199254740992.0) * 2.0 - 1.0;
}

static void Write(FILE* out, const char* label, const double* values, int count) {
    fprintf(out, "%s %d\n", label, count);
    for (int i = 0; i < count; ++i) {
        uint64_t bits;
        memcpy(&bits, &values[i], sizeof bits);
        fprintf(out, "%016llx\n", (unsigned long long)bits);
    }
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: wine_host RX.dll TX.dll OUT.txt\n");
        return 2;
    }
    HMODULE rx = LoadLibraryA(argv[1]);
    HMODULE tx = LoadLibraryA(argv[2]);
    FILE* out = fopen(argv[3], "w");
    if (rx == NULL || tx == NULL || out == NULL) {
        fprintf(stderr, "cannot load %s or %s, or write %s\n", argv[1], argv[2], argv[3]);
        return 1;
    }
    InitFn rxInit = KT_SYMBOL(InitFn, rx, "AMI_Init");
    CloseFn rxClose = KT_SYMBOL(CloseFn, rx, "AMI_Close");
    InitFn txInit = KT_SYMBOL(InitFn, tx, "AMI_Init");
    GetWaveFn txGetWave = KT_SYMBOL(GetWaveFn, tx, "AMI_GetWave");
    CloseFn txClose = KT_SYMBOL(CloseFn, tx, "AMI_Close");
    if (!rxInit || !rxClose || !txInit || !txGetWave || !txClose ||
        GetProcAddress(rx, "AMI_GetWave") != NULL) {
        fprintf(stderr, "the entry points are not as the libraries should export them\n");
        return 1;
    }

    static double matrix[KT_ROWS * KT_COLUMNS];
    static double wave[KT_WAVE];
    uint64_t state = 1;
    for (int i = 0; i < KT_ROWS * KT_COLUMNS; ++i) matrix[i] = Next(&state);
    for (int i = 0; i < KT_WAVE; ++i) wave[i] = (Next(&state) < 0.0 ? -0.5 : 0.5);

    char rxParameters[] = "(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 9))";
    void* handle = NULL;
    char* msg = NULL;
    long result = rxInit(matrix, KT_ROWS, KT_COLUMNS - 1, 1.0 / 3.84e11, 32e-12, rxParameters,
                         NULL, &handle, &msg);
    fprintf(out, "rx_init %ld\n", result);
    Write(out, "rx_matrix", matrix, KT_ROWS * KT_COLUMNS);
    fprintf(out, "rx_close %ld\n", rxClose(handle));

    char txParameters[] = "(KT7MRL40562D9_Tx (tx_samplerate 3.84e11) (FG 1) (SW 0))";
    handle = NULL;
    result = txInit(NULL, 0, 0, 1.0 / 3.84e11, 32e-12, txParameters, NULL, &handle, &msg);
    fprintf(out, "tx_init %ld\n", result);
    double clock[2] = {0.0, 0.0};
    for (int from = 0; from < KT_WAVE; from += KT_BLOCK)
        fprintf(out, "tx_getwave %ld\n", txGetWave(wave + from, KT_BLOCK, clock, NULL, handle));
    Write(out, "tx_wave", wave, KT_WAVE);
    Write(out, "tx_clock", clock, 1);
    fprintf(out, "tx_close %ld\n", txClose(handle));
    fclose(out);
    FreeLibrary(rx);
    FreeLibrary(tx);
    return 0;
}
