// The lumet:bevel GEGL operation: the effect on a GEGL buffer, for the gegl command, GIMP and
// any GEGL graph. Its properties are the parameter table's user rows (generated into
// lumet_bevel_properties.h by tools/geglprops) and a switch that grows the output by the effect's
// margin. It reads the whole input (the bevel, its blurs and the glow reach across the layer),
// renders the layer grown by the effect's margin in one go (the canvas the effect's other hosts
// give it, so that a glow near the edge is the same), keeps the input's part of it or the whole,
// and works in premultiplied sRGB-encoded colour, as the
// effect's colours are: the layer as 8-bit (the effect reads an 8-bit alpha in any case), the
// output as float, so that high-bit-depth images keep what the effect computes. The optional aux
// input is the custom map, read when HDRI Map is custom-map.
#ifdef GEGL_PROPERTIES

// clang-format off
#include "lumet_bevel_properties.h"

property_boolean (grow_bounds, "Grow Bounds", FALSE)
  description ("Grow the output past the input's bounds by the effect's margin, so that an "
               "outer bevel or a glow beyond the layer's edge is kept")
// clang-format on

#else

// The enum registration of gegl-op.h looks choice names up in the operation's message domain.
#define GETTEXT_PACKAGE "lumet"
#include <glib/gi18n-lib.h>

#define GEGL_OP_COMPOSER
#define GEGL_OP_NAME lumet_bevel
#define GEGL_OP_C_SOURCE lumet_bevel.cpp
#include <array>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "gegl-op.h"  // (after the definitions above, which it reads)
#include "params/param_names.h"
#include "params/param_values.h"
#include "render/instance_render.h"

namespace {

constexpr char kCacheKey[] = "lumet-instance-cache";

const Babl* layerFormat() { return babl_format("R'aG'aB'aA u8"); }
const Babl* floatFormat() { return babl_format("R'aG'aB'aA float"); }
const Babl* colourFormat() { return babl_format("R'G'B' u8"); }

// The property holding a parameter's value: its label in lower case with dashes.
GParamSpec* propertyOf(GObject* object, const lumet::ParamSpec& spec) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object),
                                        lumet::dashedName(spec.label).c_str());
}

void readValues(GObject* object, lumet::ParamValues& values) {
    for (const lumet::ParamSpec* spec : lumet::userParameters()) {
        GParamSpec* pspec = propertyOf(object, *spec);
        if (!pspec || spec->id == lumet::PARAM_PRESET) continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, pspec->value_type);
        g_object_get_property(object, pspec->name, &value);
        lumet::ParamValue& stored = values.byId[spec->id];
        switch (spec->kind) {
            case lumet::ParamKind::Popup:
                stored.number = g_value_get_enum(&value) + 1;  // enum values count from 0
                break;
            case lumet::ParamKind::Checkbox:
                stored.number = g_value_get_boolean(&value) ? 1 : 0;
                break;
            case lumet::ParamKind::Color:
                if (auto* colour = GEGL_COLOR(g_value_get_object(&value))) {
                    gegl_color_get_pixel(colour, colourFormat(), stored.color);
                }
                break;
            default:
                stored.number = g_value_get_double(&value);
                break;
        }
        g_value_unset(&value);
    }
}

// Choosing a preset writes the values it lists into their properties, as the Preset popup does
// in the effect's own panel; properties set after it (later on a gegl command line) stay.
void applyPreset(GObject* object, int choice) {
    std::array<lumet::PresetValue, lumet::kPresetValueCount> rows;
    if (!lumet::presetValues(choice, rows)) return;
    g_object_freeze_notify(object);
    for (const lumet::PresetValue& row : rows) {
        const lumet::ParamSpec& spec = lumet::paramSpec(row.id);
        GParamSpec* pspec = propertyOf(object, spec);
        if (!pspec || !lumet::userParameter(spec)) continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, pspec->value_type);
        switch (spec.kind) {
            case lumet::ParamKind::Popup:
                g_value_set_enum(&value, static_cast<gint>(row.value.number) - 1);
                break;
            case lumet::ParamKind::Checkbox:
                g_value_set_boolean(&value, row.value.number != 0);
                break;
            case lumet::ParamKind::Color: {
                GeglColor* colour = gegl_color_new(nullptr);
                gegl_color_set_pixel(colour, colourFormat(), row.value.color);
                g_value_take_object(&value, colour);
                break;
            }
            default:
                g_value_set_double(&value, row.value.number);
                break;
        }
        g_object_set_property(object, pspec->name, &value);
        g_value_unset(&value);
    }
    g_object_thaw_notify(object);
}

GObjectSetPropertyFunc generatedSetProperty = nullptr;

void setPropertyApplyingPreset(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    generatedSetProperty(object, id, value, pspec);
    // Not while the operation is being constructed with its defaults ("chant-data" is attached
    // once construction is over).
    if (g_str_equal(pspec->name, "preset") && g_object_get_data(object, "chant-data")) {
        applyPreset(object, g_value_get_enum(value) + 1);
    }
}

lumet::RenderSettings settingsOf(GeglOperation* operation) {
    lumet::ParamValues values;
    readValues(G_OBJECT(operation), values);
    lumet::RenderSettings settings{};
    lumet::settingsFromValues(values, settings);
    return settings;
}

bool usable(const GeglRectangle* rect) {
    return rect && rect->width > 0 && rect->height > 0 && !gegl_rectangle_is_infinite_plane(rect);
}

void prepare(GeglOperation* operation) {
    gegl_operation_set_format(operation, "input", layerFormat());
    gegl_operation_set_format(operation, "aux", floatFormat());
    gegl_operation_set_format(operation, "output", floatFormat());
}

GeglRectangle grown(const GeglRectangle& rect, std::int32_t margin) {
    return GeglRectangle{rect.x - margin, rect.y - margin, rect.width + 2 * margin,
                         rect.height + 2 * margin};
}

// The input's bounds, grown by the margin when asked.
GeglRectangle get_bounding_box(GeglOperation* operation) {
    const GeglRectangle* input = gegl_operation_source_get_bounding_box(operation, "input");
    if (!input) return GeglRectangle{0, 0, 0, 0};
    if (!usable(input) || !GEGL_PROPERTIES(operation)->grow_bounds) return *input;
    return grown(*input, settingsOf(operation).expansion);
}

// Every output pixel may depend on every input pixel (a glow spreads across the layer; the map
// is read whole), so each input is needed whole, and a change anywhere redraws everything.
GeglRectangle get_required_for_output(GeglOperation* operation, const gchar* pad,
                                      const GeglRectangle* /*roi*/) {
    const GeglRectangle* source = gegl_operation_source_get_bounding_box(operation, pad);
    return source ? *source : GeglRectangle{0, 0, 0, 0};
}

GeglRectangle get_invalidated_by_change(GeglOperation* operation, const gchar* /*pad*/,
                                        const GeglRectangle* /*roi*/) {
    return get_bounding_box(operation);
}

GeglRectangle get_cached_region(GeglOperation* operation, const GeglRectangle* /*roi*/) {
    return get_bounding_box(operation);
}

// What an operation keeps between renders: the effect's caches and their lock.
struct OperationCache {
    OperationCache() { lock.initialize(); }
    lumet::InstanceCache cache;
    lumet::platform::Lock lock;
};

OperationCache& operationCache(GeglOperation* operation) {
    static std::mutex creation;
    std::lock_guard<std::mutex> guard(creation);
    auto* kept = static_cast<OperationCache*>(g_object_get_data(G_OBJECT(operation), kCacheKey));
    if (!kept) {
        kept = new OperationCache;
        g_object_set_data_full(G_OBJECT(operation), kCacheKey, kept,
                               [](gpointer data) { delete static_cast<OperationCache*>(data); });
    }
    return *kept;
}

lumet::ImageView view(void* data, const GeglRectangle& rect, std::int32_t depth) {
    lumet::ImageView image;
    image.data = data;
    image.format = lumet::rgbaFormat(depth);
    image.rowBytes = std::int64_t{rect.width} * image.format.bytesPerPixel();
    image.width = rect.width;
    image.height = rect.height;
    return image;
}

gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* aux, GeglBuffer* output,
                 const GeglRectangle* result, gint level) {
    const GeglRectangle* layerRect = gegl_operation_source_get_bounding_box(operation, "input");
    const GeglRectangle box = get_bounding_box(operation);
    if (!input || !usable(layerRect) || !usable(&box)) {
        if (input) gegl_buffer_copy(input, result, GEGL_ABYSS_NONE, output, result);
        return TRUE;
    }
    try {
        lumet::FrameRequest request;
        request.settings = settingsOf(operation);
        const std::int32_t margin = request.settings.expansion;
        const GeglRectangle canvasRect = grown(*layerRect, margin);
        std::vector<float> canvas(static_cast<std::size_t>(canvasRect.width) * canvasRect.height *
                                  4);
        request.output = view(canvas.data(), canvasRect, lumet::kDepthFloat);

        std::vector<std::uint8_t> layer(static_cast<std::size_t>(layerRect->width) *
                                        layerRect->height * 4);
        gegl_buffer_get(input, layerRect, 1.0, layerFormat(), layer.data(), GEGL_AUTO_ROWSTRIDE,
                        GEGL_ABYSS_NONE);
        request.layer = view(layer.data(), *layerRect, lumet::kDepth8);
        request.layerX = request.layerY = margin;

        std::vector<float> map;
        const GeglRectangle* mapRect = gegl_operation_source_get_bounding_box(operation, "aux");
        if (aux && usable(mapRect) && request.settings.hdriMap == lumet::kCustomMap) {
            map.resize(static_cast<std::size_t>(mapRect->width) * mapRect->height * 4);
            gegl_buffer_get(aux, mapRect, 1.0, floatFormat(), map.data(), GEGL_AUTO_ROWSTRIDE,
                            GEGL_ABYSS_NONE);
            request.customMap = view(map.data(), *mapRect, lumet::kDepthFloat);
        }
        request.highQuality = true;
        // A mipmap level renders a preview at 1 / 2^level.
        request.preview.x = request.preview.y = std::ldexp(1.0, -level);
        request.waitForCache = true;

        OperationCache& kept = operationCache(operation);
        const lumet::Status status = lumet::renderInstanceFrame(kept.cache, kept.lock, request);
        if (!status.ok()) {
            g_warning("lumet:bevel: the image could not be rendered (%s)",
                      status.code == lumet::StatusCode::kOutOfMemory ? "out of memory" : "failed");
            return FALSE;
        }
        GeglRectangle part;
        if (!gegl_rectangle_intersect(&part, result, &box)) return TRUE;
        const std::size_t offset =
            (static_cast<std::size_t>(part.y - canvasRect.y) * canvasRect.width +
             (part.x - canvasRect.x)) *
            4;
        gegl_buffer_set(output, &part, 0, floatFormat(), canvas.data() + offset,
                        static_cast<gint>(canvasRect.width * 4 * sizeof(float)));
        return TRUE;
    } catch (...) {
        g_warning("lumet:bevel: the image could not be rendered (out of memory)");
        return FALSE;
    }
}

}  // namespace

static void gegl_op_class_init(GeglOpClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
    GeglOperationComposerClass* composer_class = GEGL_OPERATION_COMPOSER_CLASS(klass);

    generatedSetProperty = object_class->set_property;
    object_class->set_property = setPropertyApplyingPreset;

    operation_class->prepare = prepare;
    operation_class->get_bounding_box = get_bounding_box;
    operation_class->get_required_for_output = get_required_for_output;
    operation_class->get_invalidated_by_change = get_invalidated_by_change;
    operation_class->get_cached_region = get_cached_region;
    operation_class->threaded = FALSE;  // the whole image is one frame of the effect
    composer_class->process = process;
    composer_class->aux_label = "Custom Map";
    composer_class->aux_description = "The environment map read when HDRI Map is custom-map";

    gegl_operation_class_set_keys(
        operation_class, "name", "lumet:bevel", "title", "Lumet Bevel", "categories",
        "artistic:light", "description",
        "Bevelled metal and glass surfaces from the layer's alpha, lit by an environment map",
        nullptr);
}

#endif
