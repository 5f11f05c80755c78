// Calls the declarations must refuse: each line after a @ts-expect-error is
// a mistake a page author makes, and tsc fails the check when it lets one by.

/** @type {VelmoraEmbeddedRemoteConsole} */
var ctl = host.createControl("ctl", "Velmora.RemoteConsole");

// @ts-expect-error a misspelt method
ctl.conect("host-01.lab.example", "", false, "", "user", "pw", "vm-42", "dc-1", "");
// @ts-expect-error too few arguments
ctl.connect("host-01.lab.example");
// @ts-expect-error a string where the modes number goes
ctl.startup("ZOVA_MKS", 2, "");
// @ts-expect-error a message mode that is none of the library's
ctl.startup(2, 7, "");
// @ts-expect-error a misspelt dictionary key
ctl.ZOVA_Mode.Item("ZOVA_MSK");
// @ts-expect-error a key of another dictionary
ctl.ZOVA_GrabState.Item("ZOVA_CS_CONNECTED");
// @ts-expect-error the details are read-only
ctl.getVirtualDeviceDetails("floppy0").name = "renamed";
// @ts-expect-error a property read as a method
ctl.ZOVA_Mode();
// @ts-expect-error the version is a string
var major = ctl.getVersion() * 2;

/** @type {_IVelmoraEmbeddedRemoteConsoleEvents["onScreenSizeChange"]} */
var ctl_onScreenSizeChange = function (width, height) {
  // @ts-expect-error the width is a number
  width.toUpperCase();
};

// @ts-expect-error the page host's sleep takes milliseconds
host.sleep("1s");
