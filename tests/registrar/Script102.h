#pragma once
// The context-menu class's registry script, byte for byte as the extension carries it
// (CRLF line ends, four-space indentation, 520 bytes); ShellExt/Server/KorvaneShellExt.rgs must hold the same text.
inline constexpr char kScript102[] =
    "HKCR\r\n"
    "{\r\n"
    "    NoRemove CLSID\r\n"
    "    {\r\n"
    "        ForceRemove {5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D} = s 'Korvane Context Menu Handler'\r\n"
    "        {\r\n"
    "            InprocServer32 = s '%MODULE%'\r\n"
    "            {\r\n"
    "                val ThreadingModel = s 'Apartment'\r\n"
    "            }\r\n"
    "        }\r\n"
    "    }\r\n"
    "    NoRemove *\r\n"
    "    {\r\n"
    "        NoRemove ShellEx\r\n"
    "        {\r\n"
    "            NoRemove ContextMenuHandlers\r\n"
    "            {\r\n"
    "                ForceRemove Korvane = s '{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}'\r\n"
    "            }\r\n"
    "        }\r\n"
    "    }\r\n"
    "}\r\n";
