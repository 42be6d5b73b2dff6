/*
 * What the recording gateways of the tests share: numbers from the
 * environment, and one record line appended to the file named by
 * VANTREL_TEST_SMS_RECORD, fields separated by tabs, wide texts in UTF-8 with
 * backslash, tab and line feed written as \\, \t and \n.
 */
#ifndef VANTREL_TESTS_RECORDING_FILE_H
#define VANTREL_TESTS_RECORDING_FILE_H

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static inline unsigned long EnvNumber(const char* name, unsigned long fallback) {
    const char* value = getenv(name);
    return value != NULL && *value != '\0' ? strtoul(value, NULL, 10) : fallback;
}

static inline void PutUtf8(FILE* out, wchar_t wc) {
    unsigned long c = (unsigned long)wc;
    if (c == '\\' || c == '\t' || c == '\n') {
        fputc('\\', out);
        fputc(c == '\\' ? '\\' : c == '\t' ? 't' : 'n', out);
    } else if (c < 0x80) {
        fputc((int)c, out);
    } else if (c < 0x800) {
        fputc((int)(0xC0 | (c >> 6)), out);
        fputc((int)(0x80 | (c & 0x3F)), out);
    } else if (c < 0x10000) {
        fputc((int)(0xE0 | (c >> 12)), out);
        fputc((int)(0x80 | ((c >> 6) & 0x3F)), out);
        fputc((int)(0x80 | (c & 0x3F)), out);
    } else {
        fputc((int)(0xF0 | (c >> 18)), out);
        fputc((int)(0x80 | ((c >> 12) & 0x3F)), out);
        fputc((int)(0x80 | ((c >> 6) & 0x3F)), out);
        fputc((int)(0x80 | (c & 0x3F)), out);
    }
}

/* Appends one record: `kind`, then each wide text of `fields` (count n),
   then `tail` when not NULL. */
static inline void Record(const char* kind, const wchar_t* const* fields, int n, const char* tail) {
    const char* path = getenv("VANTREL_TEST_SMS_RECORD");
    FILE* out = path != NULL ? fopen(path, "a") : NULL;
    if (out == NULL) return;
    fputs(kind, out);
    for (int i = 0; i < n; ++i) {
        fputc('\t', out);
        for (const wchar_t* p = fields[i]; *p != L'\0'; ++p) PutUtf8(out, *p);
    }
    if (tail != NULL) {
        fputc('\t', out);
        fputs(tail, out);
    }
    fputc('\n', out);
    fclose(out);
}

#endif /* VANTREL_TESTS_RECORDING_FILE_H */
