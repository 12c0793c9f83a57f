#include "tests/support/gmime_reference.h"

#include <gmime/gmime.h>

#include <cstring>

namespace orlenta {

namespace {

// The bytes of `stream` from its start.
std::string StreamBytes(GMimeStream* stream) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

void AppendHeaders(GMimeObject* object, std::string& text) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        char* decoded =
            g_mime_utils_header_decode_text(nullptr, g_mime_header_get_raw_value(header));
        text += g_mime_header_get_name(header);
        text += ": ";
        text += decoded != nullptr ? decoded : "";
        text += '\n';
        g_free(decoded);
    }
}

void AppendObject(GMimeObject* object, std::string& text);

void AppendPart(GMimePart* part, std::string& text) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) {
        return;
    }
    GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
    const bool isText = g_mime_content_type_is_type(type, "text", "*") ||
                        g_mime_content_type_is_type(type, "message", "*");
    GMimeStream* out = g_mime_stream_mem_new();
    if (isText) {
        g_mime_data_wrapper_write_to_stream(content, out);  // decoded
    } else {
        GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
        g_mime_stream_reset(raw);
        g_mime_stream_write_to_stream(raw, out);  // as it is
    }
    text += StreamBytes(out);
    text += '\n';
    g_object_unref(out);
}

void AppendObject(GMimeObject* object, std::string& text) {
    if (GMIME_IS_MESSAGE(object)) {
        AppendHeaders(object, text);
        GMimeObject* body = g_mime_message_get_mime_part(GMIME_MESSAGE(object));
        if (body != nullptr) {
            AppendObject(body, text);
        }
        return;
    }
    AppendHeaders(object, text);
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        if (const char* prologue = g_mime_multipart_get_prologue(multipart)) {
            text += prologue;
            text += '\n';
        }
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i) {
            AppendObject(g_mime_multipart_get_part(multipart, i), text);
        }
        if (const char* epilogue = g_mime_multipart_get_epilogue(multipart)) {
            text += epilogue;
            text += '\n';
        }
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (message != nullptr) {
            AppendObject(GMIME_OBJECT(message), text);
        }
    } else if (GMIME_IS_PART(object)) {
        AppendPart(GMIME_PART(object), text);
    }
}

}  // namespace

std::string MailAsGMimeShowsIt(std::string_view bytes, bool mbox) {
    static const bool initialized = [] {
        g_mime_init();
        return true;
    }();
    (void)initialized;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, mbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
    std::string text;
    while (!g_mime_parser_eos(parser)) {
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        if (message == nullptr) {
            break;
        }
        AppendObject(GMIME_OBJECT(message), text);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return text;
}

}  // namespace orlenta
