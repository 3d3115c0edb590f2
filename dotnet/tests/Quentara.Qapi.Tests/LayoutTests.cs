using System;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;
using Quentara.Qapi.Native;
using Quentara.Qapi.Tests.Support;
using Xunit;

namespace Quentara.Qapi.Tests;

/// <summary>
/// Every payload record the binding reads has the C compiler's layout of
/// qapi.h (and QMessage of qmsg.h), for 4-byte and 8-byte pointers: each
/// offset and size is a static assertion in a C file compiled with -m32 and
/// -m64.  The layout by C's rules is also the runtime's own for this process.
/// </summary>
public sealed class LayoutTests
{
    private static readonly Type[] Records =
    {
        typeof(QapiStatusPayload), typeof(QapiStatusSnapshot), typeof(QapiExtensionStatus),
        typeof(QapiCmdrRecordPayload), typeof(QapiRouteRequestPayload), typeof(QMessage),
    };

    [Theory]
    [InlineData(4)]
    [InlineData(8)]
    public void EveryRecordHasTheCCompilersLayout(int pointerSize)
    {
        var source = new StringBuilder("#include <stddef.h>\n#include \"qapi.h\"\n");
        foreach (Type record in Records)
        {
            Layout.Record layout = Layout.Of(record, pointerSize);
            source.Append($"_Static_assert(sizeof({record.Name}) == {layout.Size}, \"size of {record.Name}\");\n");
            foreach (Layout.Field field in layout.Fields)
            {
                source.Append($"_Static_assert(offsetof({record.Name}, {field.Path}) == {field.Offset}, \"{record.Name}.{field.Path}\");\n");
            }
        }
        source.Append($"_Static_assert(sizeof(QapiLineList) == {QapiLineList.Slots * pointerSize}, \"QapiLineList\");\n");
        source.Append($"_Static_assert(offsetof(QapiCmdrRecordPayload, texts.text) == offsetof(QapiCmdrRecordPayload, texts.dial) && sizeof(QapiCmdrTexts) == {QapiCmdrDialTexts.Size}, \"QapiCmdrTexts\");\n");

        string file = Path.Combine(Path.GetTempPath(), $"qapi-layout-{pointerSize}-{Environment.ProcessId}.c");
        File.WriteAllText(file, source.ToString());
        try
        {
            Command.Run("cc", pointerSize == 4 ? "-m32" : "-m64", "-std=c11", "-fsyntax-only",
                "-I", Path.Combine(Paths.SourceRoot, "include"), "-I", Paths.GeneratedInclude, file);
        }
        finally
        {
            File.Delete(file);
        }
    }

    [Fact]
    public void TheLayoutByCsRulesIsTheRuntimesOwn()
    {
        foreach (Type record in Records)
        {
            Layout.Record layout = Layout.Of(record, IntPtr.Size);
            Assert.Equal(Marshal.SizeOf(record), layout.Size);
            var runtime = Layout.Members(record).Select(f => new Layout.Field(f.Name, (int)Marshal.OffsetOf(record, f.Name)));
            Assert.Equal(runtime, layout.Fields.Where(f => !f.Path.Contains('.')));
        }
    }
}
