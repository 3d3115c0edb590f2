using System;
using System.Text;

namespace Quentara.Qapi.Native;

/// <summary>
/// Texts between .NET strings and the library's NUL-terminated bytes, in the
/// stack's encoding (Latin-1 unless the application chose another: one
/// character per byte, so every byte the server sent is kept).
/// </summary>
internal sealed class TextCodec
{
    internal static readonly Encoding Latin1 = Encoding.GetEncoding(28591);

    internal TextCodec(Encoding? encoding) => Encoding = encoding ?? Latin1;

    internal Encoding Encoding { get; }

    /// <summary>The text as NUL-terminated bytes; null stays null.</summary>
    internal byte[]? ToNative(string? text)
    {
        if (text == null)
        {
            return null;
        }
        byte[] bytes = new byte[Encoding.GetByteCount(text) + 1];
        Encoding.GetBytes(text, 0, text.Length, bytes, 0);
        return bytes;
    }

    /// <summary>The text at <paramref name="text"/>, up to its NUL or <paramref name="limit"/> bytes.</summary>
    internal unsafe string FromNative(byte* text, int limit) => FromNative(Encoding, text, limit);

    /// <summary>The text at <paramref name="text"/> in <paramref name="encoding"/>, up to its NUL or <paramref name="limit"/> bytes.</summary>
    internal static unsafe string FromNative(Encoding encoding, byte* text, int limit)
    {
        int length = 0;
        while (length < limit && text[length] != 0)
        {
            length++;
        }
        return length == 0 ? string.Empty : encoding.GetString(text, length);
    }

    /// <summary>The text a pointer leads to (a block of at most 128 bytes), or null for a null pointer.</summary>
    internal unsafe string? FromPointer(IntPtr text) =>
        text == IntPtr.Zero ? null : FromNative((byte*)text, QapiLineList.TextBlock);
}
