// The two texts that show a stick to the user.
#pragma once

#include "discovery/stick_record.h"
#include "text/text_writer.h"

namespace discovery {

constexpr size_t STICK_DESCRIPTION_CAPACITY = 288;
constexpr size_t STICK_BUTTON_LABEL_CAPACITY = 160;

using StickDescription = text::FixedText<STICK_DESCRIPTION_CAPACITY>;
using StickButtonLabel = text::FixedText<STICK_BUTTON_LABEL_CAPACITY>;

// "{vendor} {product}  ·  Disk {n}  ·  {gb} GB  ·  {serial}", or the serial
// alone when that does not fit.
StickDescription stick_description(const StickRecord& stick);

// "{vendor} {product}  ·  Disk {n}  ·  {gb} GB", or the serial alone when
// that does not fit.
StickButtonLabel stick_button_label(const StickRecord& stick);

}  // namespace discovery
