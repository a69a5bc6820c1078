/**
 * @file zeb_points.h
 * @brief A module's I/O as named, typed points: slot, kind, index.
 *
 * The I/O exchange carries a module's inputs and outputs as an item stream. This header turns
 * that stream into points and back, over one caller-owned record, the ZEBImage:
 *
 * - ZEBReadImageLayout() (or ZEBImageFromBaseDef() on a base definition already read) lays out
 *   the image: the slots of the module's base with their bit, word and 32-bit inputs and
 *   outputs, every value 0.
 * - ZEBReadInputs() reads the inputs into it (ZEBDecodeStream() does the same for a stream
 *   that ZEBReadIO(), ZEBWriteIO() or ZEBReadIOEx() delivered).
 * - ZEBGetPoint() and ZEBGetPointSigned() read one point; ZEBSetPoint() changes one.
 * - ZEBWriteOutputs() writes every output of the image (ZEBEncodeOutputs() builds the stream
 *   for ZEBWriteIO() or ZEBWriteIOEx()). Outputs the caller did not change keep the values the
 *   image holds: keep one image per device, and writing one point never changes another.
 *
 * @code
 * static ZEBImage image;  // about 8 KB: keep it off a small stack
 * uint32_t r = ZEBReadImageLayout(&device, &image);
 * if (ZEB_SUCCEEDED(r)) r = ZEBReadInputs(&device, &image);
 * uint32_t on = 0;
 * ZEBGetPoint(&image, 1, ZEB_BIT_IN, 0, &on);       // slot 1, bit input 0
 * ZEBSetPoint(&image, 3, ZEB_BIT_OUT, 6, 1);        // slot 3, bit output 6 on
 * r = ZEBWriteOutputs(&device, &image);             // the other outputs as the image holds them
 * @endcode
 *
 * The functions that do not talk to a module allocate nothing and never fail on any input:
 * a stream or base definition from the network is read within its bounds, and what does not
 * fit the layout is passed over.
 */
#ifndef ZEB_POINTS_H
#define ZEB_POINTS_H

#include "zeb.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup zeb_points I/O points
 * @brief A module's inputs and outputs by slot, kind and index.
 * @{
 */

/** Point kinds, numbered as the item types that carry them in the I/O stream. */
#define ZEB_BIT_IN 3    /**< A bit input: 0 or 1. */
#define ZEB_BIT_OUT 4   /**< A bit output: 0 or 1. */
#define ZEB_WORD_IN 5   /**< A 16-bit word input. */
#define ZEB_WORD_OUT 6  /**< A 16-bit word output. */
#define ZEB_DWORD_IN 8  /**< A 32-bit input. */
#define ZEB_DWORD_OUT 9 /**< A 32-bit output. */

/** Slots an image can hold: every slot number a stream can select. */
#define ZEB_IMAGE_SLOTS 256
/** Bytes of values an image can hold: an input stream and an output stream of one exchange. */
#define ZEB_IMAGE_VALUE_BYTES 2400

#pragma pack(push, 1)

/** One slot of the base with its point counts. */
typedef struct ZEBSlotPoints {
    /** The slot number. */
    uint8_t Slot;
    /** The kind of its module record (1, 3, 5, 7 or 255). */
    uint8_t Kind;
    /** The module identification byte of the record, for the host. */
    uint8_t Ident;
    /** 0. */
    uint8_t Reserved;
    /** Points by kind, in the order bit inputs, bit outputs, word inputs, word outputs, 32-bit
     *  inputs, 32-bit outputs. */
    uint8_t Count[6];
    /** Where each kind's values start in ZEBImage::Values, in the order of Count. */
    uint16_t At[6];
} ZEBSlotPoints;

/** A module's I/O image: its slots, and the value of every point. */
typedef struct ZEBImage {
    /** Slots in Slots[], in ascending slot order. */
    uint16_t SlotCount;
    /** Bytes of Values in use. */
    uint16_t ValueBytes;
    /** The slots. */
    ZEBSlotPoints Slots[ZEB_IMAGE_SLOTS];
    /** The values as the stream carries them: bits packed eight to a byte (point n in bit n
     *  mod 8 of byte n / 8), words and 32-bit values little-endian. */
    uint8_t Values[ZEB_IMAGE_VALUE_BYTES];
} ZEBImage;

#pragma pack(pop)

/**
 * @brief Lays out an image from a base definition as ZEBReadBaseDef() delivers it.
 *
 * Every module record of a selected slot counts (the last one, when a slot is described twice);
 * records of unknown kinds, records cut short and slots without points are left out. Every
 * value starts at 0.
 *
 * @param[out] image Receives the layout.
 * @param[in] definition The base definition, in either item format.
 * @param[in] size Its length in bytes.
 * @retval 0 Laid out.
 * @retval ZEBERR_BAD_PARAMETER No image, or no definition with a nonzero size.
 * @retval ZEBERR_BUFFER_TOO_SMALL The points need more than ZEB_IMAGE_VALUE_BYTES: the slots
 *   that fit whole are laid out.
 */
ZEB_API uint32_t ZEB_CALL ZEBImageFromBaseDef(ZEBImage* image, const uint8_t* definition,
                                              uint16_t size);

/**
 * @brief Reads the module's base definition (ZEBReadBaseDef(), extended item format) and lays
 * out the image from it.
 *
 * @param[in,out] device An opened device.
 * @param[out] image Receives the layout.
 * @return 0, or ZEBReadBaseDef()'s failure (the image is left alone), or
 *   ZEBImageFromBaseDef()'s result.
 */
ZEB_API uint32_t ZEB_CALL ZEBReadImageLayout(ZEBDevice* device, ZEBImage* image);

/**
 * @brief Takes the values of an I/O stream into the image.
 *
 * Each value item of a slot the image holds sets that slot's points of the item's kind; items
 * of one kind for one slot continue each other. Values beyond a slot's count, items of slots
 * the image does not hold, and a value cut short by the end of the data are passed over.
 *
 * @param[in,out] image A laid-out image.
 * @param[in] stream An input stream (as ZEBReadIO() delivers it) or an output stream.
 * @param[in] size Its length in bytes.
 * @retval 0 Taken.
 * @retval ZEBERR_BAD_PARAMETER No image, or no stream with a nonzero size.
 */
ZEB_API uint32_t ZEB_CALL ZEBDecodeStream(ZEBImage* image, const uint8_t* stream, uint16_t size);

/**
 * @brief Builds the output stream of every output the image holds, in the extended item
 * format: 0xB1 0x00, then for each slot with outputs its selection and its bit, word and
 * 32-bit output items, then 0xFF.
 *
 * @param[in] image A laid-out image.
 * @param[out] stream Receives the stream.
 * @param[in,out] size In: the room at `stream`; out: the stream's length.
 * @retval 0 Built.
 * @retval ZEBERR_BAD_PARAMETER No image, stream or size.
 * @retval ZEBERR_BUFFER_TOO_SMALL The stream does not fit the room; `*size` is 0.
 */
ZEB_API uint32_t ZEB_CALL ZEBEncodeOutputs(const ZEBImage* image, uint8_t* stream, uint16_t* size);

/**
 * @brief Reads the module's inputs into the image: ZEBReadIO() in the extended item format,
 * then ZEBDecodeStream().
 *
 * @param[in,out] device An opened device.
 * @param[in,out] image A laid-out image; receives the input values.
 * @return ZEBReadIO()'s result. The values that came are taken also when the module refused
 *   (its status word, converted, is the result) or the stream was cut; after another failure
 *   the image is left alone.
 */
ZEB_API uint32_t ZEB_CALL ZEBReadInputs(ZEBDevice* device, ZEBImage* image);

/**
 * @brief Writes every output of the image (ZEBEncodeOutputs(), then ZEBWriteIO()) and takes the
 * inputs the module answers with into the image.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] image A laid-out image: its outputs are sent, and the inputs answered are
 *   taken into it.
 * @return ZEBWriteIO()'s result, or ZEBEncodeOutputs()'s failure (nothing sent).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteOutputs(ZEBDevice* device, ZEBImage* image);

/**
 * @brief Reads one point.
 *
 * @param[in] image A laid-out image.
 * @param[in] slot The slot number.
 * @param[in] kind ZEB_BIT_IN, ZEB_BIT_OUT, ZEB_WORD_IN, ZEB_WORD_OUT, ZEB_DWORD_IN or
 *   ZEB_DWORD_OUT.
 * @param[in] index The point's index within its slot and kind, from 0.
 * @param[out] value Receives the value: 0 or 1 for a bit, unsigned otherwise.
 * @retval 0 Read.
 * @retval ZEBERR_BAD_PARAMETER No image or value, an unknown kind, a slot the image does not
 *   hold, or an index at or past the slot's count (`*value` is left alone).
 */
ZEB_API uint32_t ZEB_CALL ZEBGetPoint(const ZEBImage* image, uint8_t slot, uint8_t kind,
                                      uint16_t index, uint32_t* value);

/**
 * @brief Reads one point as a signed value: words sign-extended from 16 bits, 32-bit values
 * as two's complement; bits are 0 or 1.
 *
 * @param[in] image A laid-out image.
 * @param[in] slot The slot number.
 * @param[in] kind As for ZEBGetPoint().
 * @param[in] index The point's index within its slot and kind, from 0.
 * @param[out] value Receives the value.
 * @return As ZEBGetPoint().
 */
ZEB_API uint32_t ZEB_CALL ZEBGetPointSigned(const ZEBImage* image, uint8_t slot, uint8_t kind,
                                            uint16_t index, int32_t* value);

/**
 * @brief Changes one point of the image; nothing is sent. Outputs are what a write sends, but
 * inputs may be set too (a simulator's, or a test's).
 *
 * @param[in,out] image A laid-out image.
 * @param[in] slot The slot number.
 * @param[in] kind As for ZEBGetPoint().
 * @param[in] index The point's index within its slot and kind, from 0.
 * @param[in] value 0 or 1 for a bit, at most 0xFFFF for a word (a negative word as its 16-bit
 *   two's complement), any value for a 32-bit point.
 * @retval 0 Changed.
 * @retval ZEBERR_BAD_PARAMETER As for ZEBGetPoint(), or a value that does not fit the kind
 *   (the image is left alone).
 */
ZEB_API uint32_t ZEB_CALL ZEBSetPoint(ZEBImage* image, uint8_t slot, uint8_t kind, uint16_t index,
                                      uint32_t value);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* ZEB_POINTS_H */
