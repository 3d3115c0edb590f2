using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

/// <summary>
/// Finds the native library: the path the application names
/// (QapiStackOptions.LibraryPath, else the QAPI_LIBRARY environment
/// variable), then runtimes/&lt;rid&gt;/native/ beside the application and
/// beside this assembly (where a portable build keeps the package's files),
/// then the file itself in those folders (where a RID-specific publish and the
/// .NET Framework targets put it), then the system's own search.  On .NET 8
/// and later it is the assembly's DllImport resolver; the netstandard2.0 build
/// loads the library on Windows before the first call, so that the imports
/// bind to it, and elsewhere installs the resolver through reflection.
/// </summary>
internal static class LibraryResolver
{
    private static readonly object Gate = new();
    private static string? s_userPath;
    private static bool s_installed;

    /// <summary>The file that was loaded, or null while none was (or the system's search found it).</summary>
    internal static string? LoadedFrom { get; set; }

    internal static bool IsWindows => RuntimeInformation.IsOSPlatform(OSPlatform.Windows);

    internal static string FileName => IsWindows ? "qapi.dll" : "libqapi.so.0";

    internal static string RuntimeId
    {
        get
        {
            string os = IsWindows ? "win" : RuntimeInformation.IsOSPlatform(OSPlatform.OSX) ? "osx" : "linux";
            string arch = RuntimeInformation.ProcessArchitecture switch
            {
                Architecture.X86 => "x86",
                Architecture.X64 => "x64",
                Architecture.Arm64 => "arm64",
                Architecture.Arm => "arm",
                _ => RuntimeInformation.ProcessArchitecture.ToString().ToLowerInvariant(),
            };
            return os + "-" + arch;
        }
    }

    /// <summary>Installs the resolver; the first path named wins, since a process loads the library once.</summary>
    internal static void Install(string? userPath)
    {
        lock (Gate)
        {
            s_userPath ??= userPath ?? NonEmpty(Environment.GetEnvironmentVariable("QAPI_LIBRARY"));
            if (s_installed)
            {
                return;
            }
            s_installed = true;
#if NET8_0_OR_GREATER
            NativeLibrary.SetDllImportResolver(typeof(LibraryResolver).Assembly, Resolve);
#else
            if (IsWindows)
            {
                Preload();
            }
            else
            {
                ReflectedResolver.Install();
            }
#endif
        }
    }

    /// <summary>Where the library is looked for, in order (files that may not exist).</summary>
    internal static IEnumerable<string> Candidates()
    {
        if (s_userPath != null)
        {
            yield return Directory.Exists(s_userPath) ? Path.Combine(s_userPath, FileName) : s_userPath;
        }
        var folders = new List<string> { AppContext.BaseDirectory };
        string? assemblyFolder = Path.GetDirectoryName(typeof(LibraryResolver).Assembly.Location);
        if (!string.IsNullOrEmpty(assemblyFolder) && !SameFolder(assemblyFolder!, AppContext.BaseDirectory))
        {
            folders.Add(assemblyFolder!);
        }
        foreach (string folder in folders)
        {
            yield return Path.Combine(folder, "runtimes", RuntimeId, "native", FileName);
        }
        foreach (string folder in folders)
        {
            yield return Path.Combine(folder, FileName);
        }
    }

#if NET8_0_OR_GREATER
    private static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
    {
        if (name != QapiExports.Library)
        {
            return IntPtr.Zero;
        }
        foreach (string candidate in Candidates())
        {
            if (File.Exists(candidate) && NativeLibrary.TryLoad(candidate, out IntPtr handle))
            {
                LoadedFrom = candidate;
                return handle;
            }
        }
        return NativeLibrary.TryLoad(FileName, assembly, searchPath, out IntPtr found) ? found : IntPtr.Zero;
    }
#else
    private static unsafe void Preload()
    {
        foreach (string candidate in Candidates())
        {
            if (!File.Exists(candidate))
            {
                continue;
            }
            fixed (char* path = candidate)
            {
                if (Win32Imports.LoadLibraryW(path) != IntPtr.Zero)
                {
                    LoadedFrom = candidate;
                    return;
                }
            }
        }
    }
#endif

    private static string? NonEmpty(string? value) => string.IsNullOrEmpty(value) ? null : value;

    private static bool SameFolder(string a, string b) =>
        string.Equals(Path.GetFullPath(a).TrimEnd(Path.DirectorySeparatorChar),
            Path.GetFullPath(b).TrimEnd(Path.DirectorySeparatorChar), StringComparison.Ordinal);
}
