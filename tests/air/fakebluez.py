'''A fake bluetoothd for python3-dbusmock, on a private system bus.

It holds the adapters and the devices the test asks for, and when discovery starts it
sends each scheduled advertisement as bluetoothd does: a device new to it as one
InterfacesAdded carrying BlueZ's own types, a device it knows as PropertiesChanged of
what the advertisement carried.

Parameters (JSON):
  ready     a file written once everything is in place
  log       a file that gets one line per adapter method called
  adapters  [{"name": "hci0", "powered": true, "off_after_round": 1 (switched off when
              that round of discovery stops), "off_after_ms": 500 (switched off that long
              after discovery first starts), "on_after_ms": 1500 (and on again),
              "monitor": true (offers the advertisement monitor of bluetoothd -E; "refuse":
              offers it and refuses every RegisterMonitor; "inactive": never activates one),
              "refuse": "SetDiscoveryFilter" or "StartDiscovery" (answered "busy")}]
  known     devices BlueZ remembers from before, as below without "after_ms"
  adverts   [{"adapter": "hci0", "address": "00:0E:0B:12:34:56", "after_ms": 50,
              "name": "Lamp-01", "rssi": -50, "tx_power": -4, "flags": "06",
              "manufacturer": {"76": "0215..."}, "service_data": {"UUID": "hex"},
              "uuids": ["0000fff0-0000-1000-8000-00805f9b34fb"], "ad": {"25": "hex"},
              "stamp": "a file that gets the monotonic time the advertisement left",
              "nested": true (manufacturer and service data one array level too deep),
              "round": 2 (sent only when discovery starts for the second time),
              "raw": "hex" (the structures as sent, for the monitor's patterns)}]
'''

import time

import dbus
import dbus.service
from gi.repository import GLib

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ADAPTER_IFACE = 'org.bluez.Adapter1'
DEVICE_IFACE = 'org.bluez.Device1'
MONITOR_MANAGER_IFACE = 'org.bluez.AdvertisementMonitorManager1'
MONITOR_IFACE = 'org.bluez.AdvertisementMonitor1'

settings = {}
manager = []  # the main object, which is not among dbusmock's objects while the template loads


def log(line):
    if settings.get('log'):
        with open(settings['log'], 'a', encoding='utf-8') as file:
            file.write(line + '\n')


def byte_array(digits):
    return dbus.Array([dbus.Byte(b) for b in bytes.fromhex(digits)], signature='y')


def keyed_bytes(entries, signature, advert):
    '''A dictionary of byte arrays; "nested": true wraps it in one array more, as a broken
    BlueZ stand-in does (aa{qv}).'''
    if advert.get('nested'):
        return dbus.Array([dbus.Dictionary(entries, signature=signature)], signature='a{%s}' % signature,
                          variant_level=1)
    return dbus.Dictionary(entries, signature=signature, variant_level=1)


def device_properties(advert):
    '''The Device1 properties one advertisement carries, typed as bluetoothd types them.'''
    props = {}
    if 'address' in advert and advert.get('with_address', True):
        props['Address'] = dbus.String(advert['address'], variant_level=1)
    if 'name' in advert:
        props['Name'] = dbus.String(advert['name'], variant_level=1)
    if 'rssi' in advert:
        props['RSSI'] = dbus.Int16(advert['rssi'], variant_level=1)
    if 'appearance' in advert:
        props['Appearance'] = dbus.UInt16(advert['appearance'], variant_level=1)
    if 'tx_power' in advert:
        props['TxPower'] = dbus.Int16(advert['tx_power'], variant_level=1)
    if 'flags' in advert:
        props['AdvertisingFlags'] = dbus.Array(byte_array(advert['flags']), signature='y', variant_level=1)
    if 'manufacturer' in advert:
        props['ManufacturerData'] = keyed_bytes(
            {dbus.UInt16(int(k, 0)): byte_array(v) for k, v in advert['manufacturer'].items()}, 'qv', advert)
    if 'service_data' in advert:
        props['ServiceData'] = keyed_bytes(
            {dbus.String(k): byte_array(v) for k, v in advert['service_data'].items()}, 'sv', advert)
    if 'uuids' in advert:
        props['UUIDs'] = dbus.Array(advert['uuids'], signature='s', variant_level=1)
    if 'ad' in advert:
        props['AdvertisingData'] = dbus.Dictionary(
            {dbus.Byte(int(k, 0)): byte_array(v) for k, v in advert['ad'].items()},
            signature='yv', variant_level=1)
    return props


def device_path(advert):
    return '/org/bluez/%s/dev_%s' % (advert.get('adapter', 'hci0'), advert['address'].replace(':', '_'))


def add_device(advert, announce):
    path = device_path(advert)
    props = device_properties(dict(advert, with_address=True))
    props.setdefault('Paired', dbus.Boolean(False, variant_level=1))
    props['Adapter'] = dbus.ObjectPath('/org/bluez/' + advert.get('adapter', 'hci0'), variant_level=1)
    manager[0].AddObject(path, DEVICE_IFACE, props, [])
    if announce:
        manager[0].EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                           [dbus.ObjectPath(path), {DEVICE_IFACE: props}])


def structures(digits):
    '''The (type, data) of each structure in an advertisement's bytes.'''
    data, found, at = bytes.fromhex(digits), [], 0
    while at < len(data) and data[at] != 0:
        found.append((data[at + 1], data[at + 2:at + 1 + data[at]]))
        at += 1 + data[at]
    return found


def tell_monitors(advert, path):
    '''As bluetoothd -E does: DeviceFound on each monitor whose pattern the advertisement holds.'''
    adapter = mockobject.objects['/org/bluez/' + advert.get('adapter', 'hci0')]
    sent = structures(advert.get('raw', ''))
    for owner, monitor, ad_type, content in getattr(adapter, 'monitors', []):
        if any(t == ad_type and d.startswith(content) for t, d in sent):
            # bluetoothd calls it once the device's signals have gone out.
            GLib.timeout_add(20, device_found, adapter, owner, monitor, path)


def device_found(adapter, owner, monitor, path):
    adapter.connection.call_async(owner, monitor, MONITOR_IFACE, 'DeviceFound', 'o', (dbus.ObjectPath(path),),
                                  None, None)
    return False


def advertise(advert):
    path = device_path(advert)
    if advert.get('stamp'):
        with open(advert['stamp'], 'w', encoding='utf-8') as file:
            file.write('%.6f\n' % time.monotonic())
    if path not in mockobject.objects:
        add_device(advert, True)
    else:
        changed = device_properties(dict(advert, with_address=False))
        mockobject.objects[path].props[DEVICE_IFACE].update(changed)
        mockobject.objects[path].EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                                            [DEVICE_IFACE, changed, []])
    tell_monitors(advert, path)
    return False


def set_discovering(adapter, discovering):
    adapter.props[ADAPTER_IFACE]['Discovering'] = dbus.Boolean(discovering, variant_level=1)
    adapter.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                       [ADAPTER_IFACE, {'Discovering': dbus.Boolean(discovering, variant_level=1)}, []])


def set_powered(adapter, powered):
    adapter.props[ADAPTER_IFACE]['Powered'] = dbus.Boolean(powered, variant_level=1)
    adapter.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                       [ADAPTER_IFACE, {'Powered': dbus.Boolean(powered, variant_level=1)}, []])
    return False


def adapter_name(adapter):
    return adapter.path.rsplit('/', 1)[-1]


@dbus.service.method(ADAPTER_IFACE, in_signature='a{sv}', out_signature='')
def SetDiscoveryFilter(adapter, discovery_filter):
    adapter.filter_set = True
    log('SetDiscoveryFilter %s %s' % (adapter_name(adapter), ' '.join(
        '%s=%s' % (k, discovery_filter[k]) for k in sorted(discovery_filter))))
    refuse_if_told(adapter, 'SetDiscoveryFilter')


def refuse_if_told(adapter, method):
    if adapter.refuse == method:
        raise dbus.exceptions.DBusException('busy', name='org.bluez.Error.InProgress')


@dbus.service.method(ADAPTER_IFACE, in_signature='', out_signature='')
def StartDiscovery(adapter):
    log('StartDiscovery %s' % adapter_name(adapter))
    refuse_if_told(adapter, 'StartDiscovery')
    if not getattr(adapter, 'filter_set', False):
        raise dbus.exceptions.DBusException('no filter', name='org.bluez.Error.Failed')
    set_discovering(adapter, True)
    adapter.rounds = getattr(adapter, 'rounds', 0) + 1
    if adapter.rounds == 1:
        for key, powered in (('off_after_ms', False), ('on_after_ms', True)):
            if adapter.switches.get(key) is not None:
                GLib.timeout_add(int(adapter.switches[key]), set_powered, adapter, powered)
    for advert in settings.get('adverts', []):
        if advert.get('adapter', 'hci0') == adapter_name(adapter) and advert.get('round', adapter.rounds) == adapter.rounds:
            GLib.timeout_add(int(advert.get('after_ms', 0)), advertise, advert)


@dbus.service.method(ADAPTER_IFACE, in_signature='', out_signature='')
def StopDiscovery(adapter):
    log('StopDiscovery %s' % adapter_name(adapter))
    set_discovering(adapter, False)
    if getattr(adapter, 'rounds', 0) == adapter.off_after_round:
        adapter.props[ADAPTER_IFACE]['Powered'] = dbus.Boolean(False, variant_level=1)


@dbus.service.method(ADAPTER_IFACE, in_signature='o', out_signature='')
def RemoveDevice(adapter, path):
    log('RemoveDevice %s' % path)
    if path not in mockobject.objects:
        raise dbus.exceptions.DBusException('no such device', name='org.bluez.Error.DoesNotExist')
    manager[0].RemoveObject(path)
    manager[0].EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas', [dbus.ObjectPath(path), [DEVICE_IFACE]])


def activate(adapter, owner, monitor):
    log('Activate %s' % adapter_name(adapter))
    adapter.connection.call_async(owner, monitor, MONITOR_IFACE, 'Activate', '', (), None, None)
    return False


def release(adapter, owner, monitor):
    adapter.connection.call_async(owner, monitor, MONITOR_IFACE, 'Release', '', (), None, None)
    return False


@dbus.service.method(MONITOR_MANAGER_IFACE, in_signature='o', out_signature='', sender_keyword='sender')
def RegisterMonitor(adapter, root, sender=None):
    log('RegisterMonitor %s' % adapter_name(adapter))
    if adapter.monitor == 'refuse':
        raise dbus.exceptions.DBusException('no room for another monitor', name='org.bluez.Error.Failed')
    # bluetoothd reads the monitors before it answers, and activates each after.
    objects = adapter.connection.call_blocking(sender, root, OBJECT_MANAGER_IFACE, 'GetManagedObjects', '', ())
    adapter.monitors = []
    for monitor, interfaces in objects.items():
        properties = interfaces[MONITOR_IFACE]
        if properties.get('Type') != 'or_patterns':
            GLib.idle_add(release, adapter, sender, monitor)
            continue
        if adapter.monitor == 'inactive':
            continue
        for _start, ad_type, content in properties['Patterns']:
            adapter.monitors.append((sender, monitor, int(ad_type), bytes(content)))
        GLib.idle_add(activate, adapter, sender, monitor)


@dbus.service.method(MONITOR_MANAGER_IFACE, in_signature='o', out_signature='')
def UnregisterMonitor(adapter, root):
    log('UnregisterMonitor %s' % adapter_name(adapter))
    adapter.monitors = []


def offer_monitor(path, how):
    '''The adapter's monitor manager, as bluetoothd -E adds it beside Adapter1.'''
    adapter = mockobject.objects[path]
    adapter.monitor = how
    adapter.AddProperties(MONITOR_MANAGER_IFACE, {
        'SupportedMonitorTypes': dbus.Array(['or_patterns'], signature='s', variant_level=1)})
    for name, method in (('RegisterMonitor', RegisterMonitor), ('UnregisterMonitor', UnregisterMonitor)):
        adapter.methods.setdefault(MONITOR_MANAGER_IFACE, {})[name] = ('o', '', None, method)


def load(mock, parameters):
    manager.append(mock)
    settings.update(parameters or {})
    for adapter in settings.get('adapters', []):
        path = '/org/bluez/' + adapter['name']
        mock.AddObject(path, ADAPTER_IFACE, {
            'Address': dbus.String('00:1A:7D:DA:71:13', variant_level=1),
            'Powered': dbus.Boolean(adapter.get('powered', True), variant_level=1),
            'Discovering': dbus.Boolean(False, variant_level=1),
        }, [
            ('SetDiscoveryFilter', 'a{sv}', '', SetDiscoveryFilter),
            ('StartDiscovery', '', '', StartDiscovery),
            ('StopDiscovery', '', '', StopDiscovery),
            ('RemoveDevice', 'o', '', RemoveDevice),
        ])
        mockobject.objects[path].off_after_round = adapter.get('off_after_round')
        mockobject.objects[path].refuse = adapter.get('refuse')
        mockobject.objects[path].switches = {key: adapter.get(key) for key in ('off_after_ms', 'on_after_ms')}
        if adapter.get('monitor'):
            offer_monitor(path, adapter['monitor'])
    for device in settings.get('known', []):
        add_device(device, False)
    if settings.get('ready'):
        with open(settings['ready'], 'w', encoding='utf-8') as file:
            file.write('ready\n')
