/* bare-expat.c: the floor the whole-process benchmarks count from, a process
 * that does nothing but run expat over a file, as lean as such a process can
 * be: it links only expat (and the C library), reads the file with one read
 * straight into expat's own buffer and parses it in one final call, with
 * empty element and character callbacks.
 *
 *   vz-bare-expat [FILE]   FILE, or the store under $VAVIVAZ_ROOT
 *
 * Exits 0 when the file was read and is well formed, 1 otherwise. */
#include <expat.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static void XMLCALL onStart(void *data, const XML_Char *name, const XML_Char **attributes)
{
    (void)data;
    (void)name;
    (void)attributes;
}

static void XMLCALL onEnd(void *data, const XML_Char *name)
{
    (void)data;
    (void)name;
}

static void XMLCALL onCharacters(void *data, const XML_Char *text, int length)
{
    (void)data;
    (void)text;
    (void)length;
}

int main(int argc, char **argv)
{
    char path[4096];
    if (argc > 1) {
        snprintf(path, sizeof path, "%s", argv[1]);
    } else {
        const char *root = getenv("VAVIVAZ_ROOT");
        snprintf(path, sizeof path, "%s/Library/Preferences/SystemConfiguration/preferences.plist",
                 root != NULL ? root : "");
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size <= 0 || info.st_size > (1 << 30)) return 1;
    XML_Parser parser = XML_ParserCreate(NULL);
    if (parser == NULL) return 1;
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onCharacters);
    int   size   = (int)info.st_size;
    char *buffer = XML_GetBuffer(parser, size);
    int   got    = 0;
    while (buffer != NULL && got < size) {
        ssize_t n = read(fd, buffer + got, (size_t)(size - got));
        if (n <= 0) break;
        got += (int)n;
    }
    int ok = buffer != NULL && got == size && XML_ParseBuffer(parser, size, 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    close(fd);
    return ok ? 0 : 1;
}
