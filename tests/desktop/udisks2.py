'''UDisks2 with one mounted block device, for python3-dbusmock.

Parameters: "device", the kernel name of the block device (sr0); "error", the
reason its Unmount fails with, none for an Unmount that succeeds.
'''
import dbus

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.AddProperty(MAIN_IFACE, 'Version', '2.9.4')
    error = parameters.get('error')
    code = ('raise dbus.exceptions.DBusException(%r, name="org.freedesktop.UDisks2.Error.Failed")'
            % error) if error else ''
    mock.AddObject('/org/freedesktop/UDisks2/block_devices/' + parameters['device'],
                   'org.freedesktop.UDisks2.Filesystem',
                   {'MountPoints': dbus.Array([b'/media/user/BACKUP\0'], signature='ay')},
                   [('Unmount', 'a{sv}', '', code)])
