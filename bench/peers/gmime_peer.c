/* gmime_peer STORE OUT [sync]: the comparison peer built on GMime 3 (benchmarking only, never part
 * of the program). Parses every message of an mbox store, reads From, To, the decoded Subject,
 * Date, Message-ID and whether a part is an attachment, and writes every message out again, each
 * behind a fresh separator line, with CR LF line ends. With "sync" the output is forced to the
 * disk before the program ends, as the repair does before it replaces the store. Prints the
 * message count.
 *
 * Build: cc -O2 gmime_peer.c $(pkg-config --cflags --libs gmime-3.0) -o gmime_peer
 */
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void mark_attachment(GMimeObject* parent, GMimeObject* part, gpointer data) {
  (void)parent;
  if (GMIME_IS_PART(part) && g_mime_part_is_attachment(GMIME_PART(part))) *(gboolean*)data = TRUE;
}

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && strcmp(argv[3], "sync") == 0)) {
    fprintf(stderr, "usage: gmime_peer STORE OUT [sync]\n");
    return 2;
  }
  g_mime_init();
  GError* err = NULL;
  GMimeStream* infs = g_mime_stream_fs_open(argv[1], O_RDONLY, 0, &err);
  if (!infs) {
    fprintf(stderr, "gmime_peer: %s\n", err ? err->message : argv[1]);
    return 1;
  }
  /* A plain file stream seeks before every read; buffered, it reads in blocks. */
  GMimeStream* in = g_mime_stream_buffer_new(infs, GMIME_STREAM_BUFFER_BLOCK_READ);
  GMimeStream* outfs = g_mime_stream_fs_open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644, &err);
  if (!outfs) {
    fprintf(stderr, "gmime_peer: %s\n", err ? err->message : argv[2]);
    return 1;
  }
  GMimeStream* outbuf = g_mime_stream_buffer_new(outfs, GMIME_STREAM_BUFFER_BLOCK_WRITE);
  GMimeStream* out = g_mime_stream_filter_new(outbuf);
  GMimeFilter* crlf = g_mime_filter_unix2dos_new(FALSE);
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(out), crlf);
  g_object_unref(crlf);

  GMimeParser* parser = g_mime_parser_new_with_stream(in);
  g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);

  unsigned long messages = 0, attachments = 0, skipped = 0;
  size_t fields = 0;
  gint64 last = -1;
  while (!g_mime_parser_eos(parser)) {
    GMimeMessage* msg = g_mime_parser_construct_message(parser, NULL);
    if (!msg) {
      /* GMime takes every "From " line for a separator; one inside a body gives no message and
       * leaves the parser stuck there. Start it again just after that line; it skips ahead to
       * the next separator. */
      const gint64 at = g_mime_parser_tell(parser);
      if (at <= last) break;
      last = at;
      ++skipped;
      g_mime_stream_seek(in, at, GMIME_STREAM_SEEK_SET);
      g_mime_parser_init_with_stream(parser, in);
      g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
      continue;
    }
    last = g_mime_parser_tell(parser);
    ++messages;
    char* from = internet_address_list_to_string(g_mime_message_get_from(msg), NULL, FALSE);
    char* to = internet_address_list_to_string(g_mime_message_get_to(msg), NULL, FALSE);
    const char* subject = g_mime_message_get_subject(msg);
    GDateTime* date = g_mime_message_get_date(msg);
    const char* id = g_mime_message_get_message_id(msg);
    gboolean attachment = FALSE;
    g_mime_message_foreach(msg, mark_attachment, &attachment);
    if (attachment) ++attachments;
    fields += (from ? strlen(from) : 0) + (to ? strlen(to) : 0) + (subject ? strlen(subject) : 0) +
              (id ? strlen(id) : 0) + (date ? 1 : 0);

    GMimeObject* obj = GMIME_OBJECT(msg);
    InternetAddressList* senders = g_mime_message_get_from(msg);
    const char* addr = "";
    if (senders && internet_address_list_length(senders) > 0) {
      InternetAddress* a = internet_address_list_get_address(senders, 0);
      if (INTERNET_ADDRESS_IS_MAILBOX(a))
        addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
    }
    char sep[512];
    int n = snprintf(sep, sizeof sep, "From %s Mon Jan 01 00:00:00 2024\n", addr);
    if (n < 0 || (size_t)n >= sizeof sep)
      n = (int)strlen(strcpy(sep, "From - Mon Jan 01 00:00:00 2024\n"));
    g_mime_stream_write(out, sep, (size_t)n);
    g_mime_object_write_to_stream(obj, options, out);
    g_mime_stream_write(out, "\n", 1);
    g_free(from);
    g_free(to);
    g_object_unref(msg);
  }
  g_mime_stream_flush(out);
  if (argc == 4 && fsync(GMIME_STREAM_FS(outfs)->fd) != 0) {
    perror("gmime_peer");
    return 1;
  }
  g_object_unref(out);
  g_object_unref(outbuf);
  g_object_unref(outfs);
  g_object_unref(parser);
  g_object_unref(in);
  g_object_unref(infs);
  g_mime_format_options_free(options);
  printf("messages %lu attachments %lu skipped %lu fields %zu\n", messages, attachments, skipped,
         fields);
  g_mime_shutdown();
  return 0;
}
