#include "media/core/failure_words.h"

#include <cstring>

#include "media/core/gst_handles.h"

namespace media {
namespace {

// "GStreamer's ASF Demuxer" for the element that gave up, or a plain word without one.
std::string partName(GstObject* source, const char* fallback) {
    if (source && GST_IS_ELEMENT(source)) {
        if (GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(source))) {
            const char* longName =
                gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
            if (longName && *longName) return std::string("GStreamer's ") + longName;
        }
    }
    return fallback;
}

// The flow that stopped the stream, from details such as "streaming stopped, reason
// not-negotiated (-4)".
std::string stopReason(const gchar* debug) {
    if (!debug) return {};
    const char* reason = std::strstr(debug, "reason ");
    if (!reason) return {};
    reason += 7;
    std::string word;
    while (*reason && *reason != ' ' && *reason != '(' && *reason != '\n') word += *reason++;
    return word;
}

}  // namespace

std::string FailureInWords(const GError* error, const gchar* debug, GstObject* source) {
    if (!error) return "The media framework failed without saying why.";
    const std::string message = error->message ? error->message : "";
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN)
        return "A decoder needed for this file is not installed.";
    if (error->domain != GST_STREAM_ERROR) return message;
    switch (error->code) {
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return "A decoder needed for this file is not installed.";
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
            return "The file is not in a form that the installed media plugins recognise (" +
                   message + ").";
        case GST_STREAM_ERROR_DECODE:
            return partName(source, "A decoder") + " could not decode the file (" + message +
                   "). The file may be damaged.";
        case GST_STREAM_ERROR_DEMUX:
            return partName(source, "The reader of the file's container") +
                   " could not read the file (" + message + "). The file may be damaged.";
        case GST_STREAM_ERROR_FORMAT:
            return partName(source, "The media framework") +
                   " met a stream format it cannot handle (" + message + ").";
        case GST_STREAM_ERROR_FAILED: {
            const std::string reason = stopReason(debug);
            if (reason == "not-negotiated")
                return partName(source, "The media framework") +
                       " could not agree on a format for the file's streams: the installed "
                       "plugins cannot turn them into the output asked for.";
            return partName(source, "The media framework") + " stopped reading the file" +
                   (reason.empty() ? "" : " (" + reason + ")") +
                   ". The file may be damaged, or made in a way this reader does not follow.";
        }
        default:
            return message;
    }
}

std::string FailureInWords(GstMessage* errorMessage) {
    GError* error = nullptr;
    gchar* details = nullptr;
    gst_message_parse_error(errorMessage, &error, &details);
    const GCharPtr debug(details);
    std::string words = FailureInWords(error, debug.get(), GST_MESSAGE_SRC(errorMessage));
    g_clear_error(&error);
    return words;
}

}  // namespace media
