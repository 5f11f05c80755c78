// A page's script: start a console, connect it to a virtual machine, follow
// its events, list its devices and let it go. Run it with the page host once
// the control is registered (make register):
//   scripts/wine build/bin/pagehost.exe examples/session.js
// tsc checks it against the control's declarations
// (docs/velmoraRemoteConsole.d.ts) as a test.

/** @type {VelmoraEmbeddedRemoteConsole} */
var ctl = host.createControl("ctl", "Velmora.RemoteConsole", 640, 480);

/**
 * The name of a number in one of the control's constant dictionaries.
 * @template {string} Name
 * @param {ConstantDictionary<Name>} dictionary
 * @param {number} value
 * @returns {string}
 */
function nameOf(dictionary, value) {
  var names = new VBArray(dictionary.Keys()).toArray();
  for (var i = 0; i < names.length; i++)
    if (dictionary.Item(names[i]) === value) return names[i];
  return String(value);
}

// Handlers are global functions named after the control's id and the event.
/** @type {_IVelmoraEmbeddedRemoteConsoleEvents["onConnectionStateChange"]} */
var ctl_onConnectionStateChange = function (cs, hostName, datacenter, vmId, userRequested, reason) {
  host.echo("event: " + nameOf(ctl.ZOVA_ConnectionState, cs) + " " + hostName + " " + vmId);
};
/** @type {_IVelmoraEmbeddedRemoteConsoleEvents["onMessage"]} */
var ctl_onMessage = function (msgType, message) {
  host.echo("event: " + nameOf(ctl.ZOVA_MessageType, msgType) + " " + message);
};

var modes = ctl.ZOVA_Mode;
var id = ctl.startup(modes.Item("ZOVA_MKS") | modes.Item("ZOVA_DEVICES"),
                     ctl.ZOVA_MessageMode.Item("ZOVA_EVENT_MESSAGES"), "");
host.echo("started: " + (id.indexOf("zova-ax-t-") === 0));

ctl.connect("host-01.lab.example", "", false, "", "page-author", "secret", "vm-42", "dc-1",
            "store-1/vm-42/vm-42.cfg");
host.sleep(300);
host.echo("state: " + nameOf(ctl.ZOVA_ConnectionState, ctl.getConnectionState()));

// Device lists are SAFEARRAYs of keys; details come one device at a time.
var keys = new VBArray(ctl.getVirtualDevices(ctl.ZOVA_DeviceType.Item("ZOVA_DEVICE_ALL"))).toArray();
for (var i = 0; i < keys.length; i++) {
  var device = ctl.getVirtualDeviceDetails(keys[i]);
  host.echo("device: " + device.name + ", " + nameOf(ctl.ZOVA_DeviceType, device.type) + ", " +
            nameOf(ctl.ZOVA_DeviceState, device.state));
}

// A failing call throws; e.number is its status.
try {
  ctl.getVirtualDeviceDetails("no-such-device");
} catch (e) {
  host.echo("unknown device: " + e.number);
}

ctl.shutdown();
host.echo("ready to start again: " + ctl.isReadyToStart());
